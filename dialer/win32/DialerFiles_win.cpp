// The dialer's files on Windows: the text of a settings file with CR LF line ends,
// flushed to the disk before it replaces the old file in one rename.
#include "DialerFiles.h"

#include "ScopedHandles_win.h"

#include <windows.h>

namespace {

bool WriteAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = DWORD(bytes.size() - done < 0x10000 ? bytes.size() - done : 0x10000);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

class Win32Files : public DialerFiles {
  public:
    bool WriteText(const std::string& path, const std::string& text) override {
        std::string bytes;
        bytes.reserve(text.size() + text.size() / 16);
        for (char c : text) {
            if (c == '\n')
                bytes += '\r';
            bytes += c;
        }
        ScopedFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        // A full disk shows in WriteFile or, with the system's write cache, only in
        // the flush: both are checked before the old file is given up.
        const bool ok = WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get());
        return file.Close() && ok;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        return MoveFileExA(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }
    bool Append(const std::string& path, const std::string& bytes) override {
        // Open only for the one append, and shared: a reader, or a second copy of the
        // dialer (another title) appending or putting a generation aside, must not make
        // the open fail. Appends go to the end whoever else writes.
        ScopedFile file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        const bool ok = WriteAll(file.Get(), bytes);
        return file.Close() && ok;
    }
    int64_t Size(const std::string& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
            return -1;
        return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
};

} // namespace

DialerFiles& SystemFiles() {
    static Win32Files files;
    return files;
}
