// One owner for every Win32 handle of the library: a move-only wrapper that
// closes its handle with the close call its kind needs. Each kind is a small
// traits struct: the handle type, its "no handle" value and how to close it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

template <class Traits> class ScopedHandle {
  public:
    using Handle = typename Traits::Handle;

    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Handle Get() const { return handle_; }
    bool Valid() const { return handle_ != Traits::None(); }
    explicit operator bool() const { return Valid(); }
    // For a call that hands a new handle back through a pointer: the one held
    // so far is closed first.
    Handle* Receive() {
        Reset();
        return &handle_;
    }
    Handle Release() {
        const Handle handle = handle_;
        handle_ = Traits::None();
        return handle;
    }
    void Reset(Handle handle = Traits::None()) {
        if (Valid())
            Traits::Close(handle_);
        handle_ = handle;
    }

  private:
    Handle handle_ = Traits::None();
};

// Kernel objects whose "no handle" is null: tokens, events.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
// Files and tool-help snapshots, whose "no handle" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { FindClose(h); }
};
struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle None() { return nullptr; }
    static void Close(Handle h) { CloseServiceHandle(h); }
};
struct ModuleHandleTraits {
    using Handle = HMODULE;
    static Handle None() { return nullptr; }
    static void Close(Handle h) { FreeLibrary(h); }
};
struct CryptProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle None() { return 0; }
    static void Close(Handle h) { CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
    using Handle = HCRYPTHASH;
    static Handle None() { return 0; }
    static void Close(Handle h) { CryptDestroyHash(h); }
};
struct CryptKeyTraits {
    using Handle = HCRYPTKEY;
    static Handle None() { return 0; }
    static void Close(Handle h) { CryptDestroyKey(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedServiceHandle = ScopedHandle<ServiceHandleTraits>;
using ScopedModule = ScopedHandle<ModuleHandleTraits>;
using ScopedCryptProvider = ScopedHandle<CryptProviderTraits>;
using ScopedCryptHash = ScopedHandle<CryptHashTraits>;
using ScopedCryptKey = ScopedHandle<CryptKeyTraits>;
