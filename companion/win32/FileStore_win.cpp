// The files port on the Win32 file functions and the profile-file reader.
#include "FileStore.h"
#include "ScopedHandle.h"
#include "Win32Ports.h"

#include <windows.h>

namespace {

class WinFileReader : public FileReader {
  public:
    explicit WinFileReader(HANDLE file) : file_(file) {}
    bool Size(uint32_t& size) override {
        const DWORD low = GetFileSize(file_.Get(), nullptr);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
            return false;
        size = low;
        return true;
    }
    bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) override {
        DWORD got = 0;
        const BOOL ok = ReadFile(file_.Get(), buffer, size, &got, nullptr);
        read = ok ? got : 0;
        return ok != FALSE;
    }

  private:
    ScopedFileHandle file_;
};

class WinFileWriter : public FileWriter {
  public:
    explicit WinFileWriter(HANDLE file) : file_(file) {}
    bool Write(const uint8_t* data, uint32_t size) override {
        DWORD written = 0;
        return WriteFile(file_.Get(), data, size, &written, nullptr) && written == size;
    }
    // Closed here so that the caller learns whether the last bytes reached the disk.
    bool Close() override { return CloseHandle(file_.Release()) != FALSE; }

  private:
    ScopedFileHandle file_;
};

// The profile-file reader looks for a name without a folder in the Windows
// folder; the update's files live in the current folder, so always pass a full path.
std::string FullPath(const std::string& path) {
    char buffer[MAX_PATH * 2];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
    return length > 0 && length < sizeof(buffer) ? std::string(buffer, length) : path;
}

class WinFileStore : public FileStore {
  public:
    bool GetAttributes(const std::string& path, uint32_t& attributes) override {
        const DWORD value = GetFileAttributesA(path.c_str());
        if (value == INVALID_FILE_ATTRIBUTES)
            return false;
        attributes = value;
        return true;
    }
    bool SetAttributes(const std::string& path, uint32_t attributes) override {
        return SetFileAttributesA(path.c_str(), attributes) != FALSE;
    }
    bool RemoveFile(const std::string& path) override { return DeleteFileA(path.c_str()) != FALSE; }
    bool RenameFile(const std::string& from, const std::string& to) override {
        return MoveFileA(from.c_str(), to.c_str()) != FALSE;
    }
    bool MoveReplacing(const std::string& from, const std::string& to) override {
        return MoveFileExA(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    bool CreateFolder(const std::string& path) override {
        return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
    }
    bool RemoveFolder(const std::string& path) override {
        return RemoveDirectoryA(path.c_str()) != FALSE;
    }
    bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) override {
        entries.clear();
        std::string pattern = folder;
        if (pattern.empty() || pattern.back() != '\\')
            pattern += '\\';
        pattern += "*.*";
        WIN32_FIND_DATAA found;
        ScopedFindHandle search(FindFirstFileA(pattern.c_str(), &found));
        if (!search)
            return false;
        do {
            entries.push_back(
                {found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
        } while (FindNextFileA(search.Get(), &found));
        return true;
    }
    std::unique_ptr<FileReader> OpenRead(const std::string& path) override {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_unique<WinFileReader>(file);
    }
    std::unique_ptr<FileWriter> Create(const std::string& path) override {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_unique<WinFileWriter>(file);
    }
    std::string ProfileString(const std::string& path, const std::string& section,
                              const std::string& key) override {
        std::vector<char> buffer(4096);
        for (;;) {
            const DWORD length =
                GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(),
                                         DWORD(buffer.size()), FullPath(path).c_str());
            if (length + 1 < buffer.size() || buffer.size() >= (1u << 20))
                return std::string(buffer.data(), length);
            buffer.resize(buffer.size() * 4);
        }
    }
    std::vector<std::string> ProfileSection(const std::string& path,
                                            const std::string& section) override {
        std::vector<char> buffer(32768);
        DWORD length = 0;
        for (;;) {
            length = GetPrivateProfileSectionA(section.c_str(), buffer.data(), DWORD(buffer.size()),
                                               FullPath(path).c_str());
            // size - 2 means the section did not fit.
            if (length + 2 < buffer.size() || buffer.size() >= (1u << 22))
                break;
            buffer.resize(buffer.size() * 4);
        }
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t i = 0; i < length; ++i) {
            if (buffer[i] != '\0')
                continue;
            if (i > start)
                lines.emplace_back(buffer.data() + start, i - start);
            start = i + 1;
        }
        if (start < length)
            lines.emplace_back(buffer.data() + start, length - start);
        return lines;
    }
};

} // namespace

std::unique_ptr<FileStore> CreateWin32FileStore() {
    return std::make_unique<WinFileStore>();
}
