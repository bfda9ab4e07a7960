// The real ports of the library, one *_win.cpp each. Ostrel_win.cpp creates all
// of them, in one place, when the first initThread makes the library.
#pragma once

#include <memory>

#include "Ports.h"

class HostTables;
class ModuleResources;
class ProgramSnapshot;
class ServiceControl;
class CaptureDriver;
class InternetSession;
class FileStore;
class UserNotice;
class UpdateCrypto;
class SystemClock;

std::unique_ptr<HostTables> CreateWin32HostTables();
std::unique_ptr<ModuleResources> CreateWin32ModuleResources();
std::unique_ptr<ProgramSnapshot> CreateWin32ProgramSnapshot();
std::unique_ptr<ServiceControl> CreateWin32ServiceControl();
// A driver whose every open fails when packet.dll is missing or lacks an entry
// point: no capture, and the library still loads. packet.dll is loaded only when
// first used.
std::unique_ptr<CaptureDriver> CreateWin32CaptureDriver();
std::unique_ptr<InternetSession> CreateWin32InternetSession();
std::unique_ptr<FileStore> CreateWin32FileStore();
std::unique_ptr<UserNotice> CreateWin32UserNotice();
std::unique_ptr<UpdateCrypto> CreateWin32UpdateCrypto();
std::unique_ptr<SystemClock> CreateWin32SystemClock();
