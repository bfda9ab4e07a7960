// The library reaches the operating system only through these ports. The Win32
// entry (win32/Ostrel_win.cpp) creates every real implementation in one place
// and hands the table to the Library, which installs it; native tests install
// fakes from tests/fakes/. Each port has its own header, named after the class.
#pragma once

class HostTables;      // adapters, TCP and UDP tables (IP helper)
class ModuleResources; // the library's own RCDATA resources
class ProgramSnapshot; // processes, modules, top-level windows, version texts
class ServiceControl;  // service control manager
class CaptureDriver;   // packet.dll
class InternetSession; // WinINet
class FileStore;       // files and folders of the update
class UserNotice;      // the update message box
class UpdateCrypto;    // hashes and signature checks of signed updates
class SystemClock;     // tick count, sleeps, random seed

struct CompanionPorts {
    HostTables* hostTables = nullptr;
    ModuleResources* resources = nullptr;
    ProgramSnapshot* programs = nullptr;
    ServiceControl* services = nullptr;
    CaptureDriver* capture = nullptr;
    InternetSession* internet = nullptr;
    FileStore* files = nullptr;
    UserNotice* notice = nullptr;
    UpdateCrypto* crypto = nullptr;
    SystemClock* clock = nullptr;
};

// The library-wide set of ports, installed by the Library for its lifetime.
CompanionPorts& Ports();
