// The MessageBoxA style of each message kind.
#pragma once

#include "MessageKind.h"

#include <windows.h>

inline UINT MessageBoxStyle(MessageKind kind) {
    return kind == MessageKind::Information ? MB_OK | MB_ICONINFORMATION : MB_OK;
}
