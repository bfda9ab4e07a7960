// Port: the files and folders of the update, and the profile-file reader that
// reads the update description. Paths are Windows paths ("\" separated), relative
// to the process's current directory unless absolute.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr uint32_t kFileAttrReadOnly = 0x1;
constexpr uint32_t kFileAttrDirectory = 0x10;
constexpr uint32_t kFileAttrNormal = 0x80;

struct FolderEntry {
    std::string name;
    bool isFolder = false;
};

class FileReader {
  public:
    virtual ~FileReader() = default;
    // The low 32 bits of the file's size.
    virtual bool Size(uint32_t& size) = 0;
    // Reads at most `size` bytes; `read` 0 at the end.
    virtual bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) = 0;
};

class FileWriter {
  public:
    virtual ~FileWriter() = default;
    virtual bool Write(const uint8_t* data, uint32_t size) = 0;
    // Flushes and closes; false when the data did not all reach the file.
    virtual bool Close() = 0;
};

class FileStore {
  public:
    virtual ~FileStore() = default;
    // GetFileAttributesA; false when the path does not exist.
    virtual bool GetAttributes(const std::string& path, uint32_t& attributes) = 0;
    virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;
    virtual bool RemoveFile(const std::string& path) = 0;
    // MoveFileA: fails when `to` exists.
    virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
    // MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: `to` is
    // replaced by `from` in one step, and the call returns once that is on disk.
    virtual bool MoveReplacing(const std::string& from, const std::string& to) = 0;
    virtual bool CreateFolder(const std::string& path) = 0;
    virtual bool RemoveFolder(const std::string& path) = 0; // only an empty one
    // Every entry of the folder ("." and ".." included where the system lists them).
    virtual bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) = 0;
    // Opens for reading, sharing read access; null when it cannot be opened.
    virtual std::unique_ptr<FileReader> OpenRead(const std::string& path) = 0;
    // Creates or truncates a file for writing; null when it cannot be created.
    virtual std::unique_ptr<FileWriter> Create(const std::string& path) = 0;

    // The profile-file reader. ProfileString: the trimmed value of `key` in
    // `section` (both matched without regard to case), empty when missing.
    // ProfileSection: the section's lines as "key=value", in file order.
    virtual std::string ProfileString(const std::string& path, const std::string& section,
                                      const std::string& key) = 0;
    virtual std::vector<std::string> ProfileSection(const std::string& path,
                                                    const std::string& section) = 0;
};
