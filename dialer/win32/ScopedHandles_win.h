// The dialer's Win32 handles, each owned through ScopedHandle: kernel objects and
// files, loaded modules, registry keys, icons, GDI objects and memory DCs.
#pragma once

#include "ScopedHandle.h"

#include <windows.h>

struct KernelHandleTraits { // most kernel objects: none is null
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return CloseHandle(handle) != FALSE; }
};
struct FileHandleTraits { // CreateFile: none is INVALID_HANDLE_VALUE
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle handle) { return CloseHandle(handle) != FALSE; }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return FreeLibrary(handle) != FALSE; }
};
struct KeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return RegCloseKey(handle) == ERROR_SUCCESS; }
};
// Only for icons the program made or loaded unshared (LoadImage without
// LR_SHARED); LoadIcon's shared icons are the system's and are never destroyed.
struct IconTraits {
    using Handle = HICON;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return DestroyIcon(handle) != FALSE; }
};
template <class Object> struct GdiObjectTraits {
    using Handle = Object;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return DeleteObject(handle) != FALSE; }
};
struct MemoryDcTraits { // CreateCompatibleDC; a window's DC is released, not deleted
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return DeleteDC(handle) != FALSE; }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFile = ScopedHandle<FileHandleTraits>;
using ScopedModule = ScopedHandle<ModuleTraits>;
using ScopedKey = ScopedHandle<KeyTraits>;
using ScopedIcon = ScopedHandle<IconTraits>;
using ScopedBitmap = ScopedHandle<GdiObjectTraits<HBITMAP>>;
using ScopedMemoryDc = ScopedHandle<MemoryDcTraits>;
