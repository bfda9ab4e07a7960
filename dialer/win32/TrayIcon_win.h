// The notification-area icon: the record is built by BuildTrayRecord (TrayRecord.h)
// and passed here to the shell unchanged.
#pragma once

#include "TrayRecord.h"

#include <windows.h>

// Shell_NotifyIconA with NIM_ADD, NIM_MODIFY or NIM_DELETE. The answer is not
// examined: without a notification area there is no icon.
void PassTrayRecord(DWORD action, const TrayIconRecord& record);
