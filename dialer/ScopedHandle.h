// One owner for a system handle: it is closed, once, when its owner goes. Never
// copied; a move hands the ownership on. `Traits` names the handle type, the value
// that means "none" and how the system closes one:
//
//   struct Traits {
//       using Handle = ...;
//       static Handle Invalid();
//       static bool Close(Handle handle); // true when the system took the close
//   };
//
// The Win32 traits of the dialer's handles are in win32/ScopedHandles_win.h; the
// template itself is portable so that it is tested natively.
#pragma once

#include <utility>

template <class Traits> class ScopedHandle {
  public:
    using Handle = typename Traits::Handle;

    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) : m_hHandle(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : m_hHandle(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Handle Get() const { return m_hHandle; }
    bool IsValid() const { return m_hHandle != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    // Closes the handle held (if any) and takes `handle`.
    void Reset(Handle handle = Traits::Invalid()) {
        if (IsValid())
            Traits::Close(m_hHandle);
        m_hHandle = handle;
    }
    // Gives the handle up without closing it.
    Handle Release() { return std::exchange(m_hHandle, Traits::Invalid()); }
    // Closes now, answering whether the system took the close (false when nothing
    // was held); where a failed close means lost data, as for a written file.
    bool Close() {
        if (!IsValid())
            return false;
        return Traits::Close(Release());
    }
    // For a call that writes a new handle through a pointer: the one held is closed
    // first.
    Handle* Receive() {
        Reset();
        return &m_hHandle;
    }

  private:
    Handle m_hHandle = Traits::Invalid();
};
