// The Win32 capture port: packet.dll loaded at run time on first use.
#pragma once

class CaptureDriver;

// A driver whose every open fails when packet.dll is missing or lacks an entry
// point: no capture, and the library still loads.
CaptureDriver* CreateWin32CaptureDriver();
