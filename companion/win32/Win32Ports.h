// The real ports of the library, one *_win.cpp each. Ostrel_win.cpp installs
// them into Ports() at the first initThread.
#pragma once

class HostTables;
class ModuleResources;
class ProgramSnapshot;
class ServiceControl;
class SystemClock;

HostTables* CreateWin32HostTables();
ModuleResources* CreateWin32ModuleResources();
ProgramSnapshot* CreateWin32ProgramSnapshot();
ServiceControl* CreateWin32ServiceControl();
SystemClock* CreateWin32SystemClock();
