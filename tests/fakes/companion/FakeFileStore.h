// In-memory files and folders for the update modules, case-insensitive like the
// Windows file system, with failures that a test can plant.
#pragma once

#include "FileStore.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class FakeFileStore : public FileStore {
  public:
    struct File {
        std::vector<uint8_t> bytes;
        uint32_t attributes = kFileAttrNormal;
    };

    FakeFileStore() { folders.insert(""); }

    // "a\b" and ".\A\B" are the same path; a trailing "\" is dropped.
    static std::string Norm(const std::string& path);

    void Put(const std::string& path, const std::string& content,
             uint32_t attributes = kFileAttrNormal);
    void MakeFolder(const std::string& path);
    bool Has(const std::string& path) const;
    bool HasFolder(const std::string& path) const;
    std::string Text(const std::string& path) const;
    uint32_t Attributes(const std::string& path) const;

    bool GetAttributes(const std::string& path, uint32_t& attributes) override;
    bool SetAttributes(const std::string& path, uint32_t attributes) override;
    bool RemoveFile(const std::string& path) override;
    bool RenameFile(const std::string& from, const std::string& to) override;
    bool MoveReplacing(const std::string& from, const std::string& to) override;
    bool CreateFolder(const std::string& path) override;
    bool RemoveFolder(const std::string& path) override;
    bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) override;
    std::unique_ptr<FileReader> OpenRead(const std::string& path) override;
    std::unique_ptr<FileWriter> Create(const std::string& path) override;
    std::string ProfileString(const std::string& path, const std::string& section,
                              const std::string& key) override;
    std::vector<std::string> ProfileSection(const std::string& path,
                                            const std::string& section) override;

    // Planted failures, by normalised path.
    std::set<std::string> failCreate, failWrite, failRename, failDelete, failSetAttributes;
    // Every change, in order ("create x", "rename x -> y", "delete x", ...).
    std::vector<std::string> log;

    mutable std::recursive_mutex lock;
    std::map<std::string, File> files;
    std::set<std::string> folders;

  private:
    bool ParentExists(const std::string& norm) const;
    friend class FakeWriter;
};
