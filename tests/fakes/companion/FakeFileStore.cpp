#include "FakeFileStore.h"

#include "MyUtils.h"

#include <algorithm>

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;

class FakeReader : public FileReader {
  public:
    explicit FakeReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool Size(uint32_t& size) override {
        size = static_cast<uint32_t>(bytes_.size());
        return true;
    }
    bool Read(uint8_t* buffer, uint32_t size, uint32_t& read) override {
        read = static_cast<uint32_t>(std::min<size_t>(size, bytes_.size() - pos_));
        std::copy(bytes_.begin() + long(pos_), bytes_.begin() + long(pos_ + read), buffer);
        pos_ += read;
        return true;
    }

  private:
    std::vector<uint8_t> bytes_; // a snapshot, as an open file with shared reading is
    size_t pos_ = 0;
};
} // namespace

class FakeWriter : public FileWriter {
  public:
    FakeWriter(FakeFileStore& store, std::string norm) : store_(store), norm_(std::move(norm)) {}
    bool Write(const uint8_t* data, uint32_t size) override {
        Guard hold(store_.lock);
        if (store_.failWrite.count(norm_))
            return false;
        auto& bytes = store_.files[norm_].bytes;
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    bool Close() override { return true; }

  private:
    FakeFileStore& store_;
    std::string norm_;
};

std::string FakeFileStore::Norm(const std::string& path) {
    std::string p = LowerCase(path);
    std::replace(p.begin(), p.end(), '/', '\\');
    while (p.rfind(".\\", 0) == 0)
        p = p.substr(2);
    while (!p.empty() && p.back() == '\\')
        p.pop_back();
    return p;
}

bool FakeFileStore::ParentExists(const std::string& norm) const {
    const size_t slash = norm.rfind('\\');
    return folders.count(slash == std::string::npos ? "" : norm.substr(0, slash)) > 0;
}

void FakeFileStore::Put(const std::string& path, const std::string& content, uint32_t attributes) {
    Guard hold(lock);
    File& f = files[Norm(path)];
    f.bytes.assign(content.begin(), content.end());
    f.attributes = attributes;
}

void FakeFileStore::MakeFolder(const std::string& path) {
    Guard hold(lock);
    folders.insert(Norm(path));
}

bool FakeFileStore::Has(const std::string& path) const {
    Guard hold(lock);
    return files.count(Norm(path)) > 0;
}

bool FakeFileStore::HasFolder(const std::string& path) const {
    Guard hold(lock);
    return folders.count(Norm(path)) > 0;
}

std::string FakeFileStore::Text(const std::string& path) const {
    Guard hold(lock);
    auto it = files.find(Norm(path));
    return it == files.end() ? "<missing>"
                             : std::string(it->second.bytes.begin(), it->second.bytes.end());
}

uint32_t FakeFileStore::Attributes(const std::string& path) const {
    Guard hold(lock);
    auto it = files.find(Norm(path));
    return it == files.end() ? 0 : it->second.attributes;
}

bool FakeFileStore::GetAttributes(const std::string& path, uint32_t& attributes) {
    Guard hold(lock);
    const std::string n = Norm(path);
    if (folders.count(n)) {
        attributes = kFileAttrDirectory;
        return true;
    }
    auto it = files.find(n);
    if (it == files.end())
        return false;
    attributes = it->second.attributes;
    return true;
}

bool FakeFileStore::SetAttributes(const std::string& path, uint32_t attributes) {
    Guard hold(lock);
    auto it = files.find(Norm(path));
    if (it == files.end() || failSetAttributes.count(Norm(path)))
        return false;
    it->second.attributes = attributes;
    log.push_back("attributes " + Norm(path));
    return true;
}

bool FakeFileStore::RemoveFile(const std::string& path) {
    Guard hold(lock);
    const std::string n = Norm(path);
    auto it = files.find(n);
    // A read-only file cannot be deleted, as on Windows.
    if (it == files.end() || failDelete.count(n) || (it->second.attributes & kFileAttrReadOnly))
        return false;
    files.erase(it);
    log.push_back("delete " + n);
    return true;
}

bool FakeFileStore::RenameFile(const std::string& from, const std::string& to) {
    Guard hold(lock);
    const std::string f = Norm(from), t = Norm(to);
    auto it = files.find(f);
    if (it == files.end() || files.count(t) || folders.count(t) || failRename.count(f) ||
        !ParentExists(t))
        return false;
    files[t] = it->second;
    files.erase(f);
    log.push_back("rename " + f + " -> " + t);
    return true;
}

bool FakeFileStore::MoveReplacing(const std::string& from, const std::string& to) {
    Guard hold(lock);
    const std::string f = Norm(from), t = Norm(to);
    auto it = files.find(f);
    auto target = files.find(t);
    // A read-only target cannot be replaced, as on Windows.
    if (it == files.end() || folders.count(t) || failRename.count(f) || !ParentExists(t) ||
        (target != files.end() && (target->second.attributes & kFileAttrReadOnly)))
        return false;
    files[t] = it->second;
    files.erase(f);
    log.push_back("replace " + f + " -> " + t);
    return true;
}

bool FakeFileStore::CreateFolder(const std::string& path) {
    Guard hold(lock);
    const std::string n = Norm(path);
    if (folders.count(n) || files.count(n) || !ParentExists(n))
        return false;
    folders.insert(n);
    log.push_back("mkdir " + n);
    return true;
}

bool FakeFileStore::RemoveFolder(const std::string& path) {
    Guard hold(lock);
    const std::string n = Norm(path);
    if (!folders.count(n) || n.empty())
        return false;
    const std::string prefix = n + "\\";
    for (const auto& f : files)
        if (f.first.rfind(prefix, 0) == 0)
            return false;
    for (const auto& d : folders)
        if (d.rfind(prefix, 0) == 0)
            return false;
    folders.erase(n);
    log.push_back("rmdir " + n);
    return true;
}

bool FakeFileStore::ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    Guard hold(lock);
    const std::string n = Norm(folder);
    if (!folders.count(n))
        return false;
    const std::string prefix = n.empty() ? "" : n + "\\";
    entries = {{".", true}, {"..", true}};
    for (const auto& f : files)
        if (f.first.rfind(prefix, 0) == 0 && f.first.find('\\', prefix.size()) == std::string::npos)
            entries.push_back({f.first.substr(prefix.size()), false});
    for (const auto& d : folders)
        if (!d.empty() && d != n && d.rfind(prefix, 0) == 0 &&
            d.find('\\', prefix.size()) == std::string::npos)
            entries.push_back({d.substr(prefix.size()), true});
    return true;
}

std::unique_ptr<FileReader> FakeFileStore::OpenRead(const std::string& path) {
    Guard hold(lock);
    auto it = files.find(Norm(path));
    if (it == files.end())
        return nullptr;
    return std::unique_ptr<FileReader>(new FakeReader(it->second.bytes));
}

std::unique_ptr<FileWriter> FakeFileStore::Create(const std::string& path) {
    Guard hold(lock);
    const std::string n = Norm(path);
    auto it = files.find(n);
    if (failCreate.count(n) || folders.count(n) || !ParentExists(n) ||
        (it != files.end() && (it->second.attributes & kFileAttrReadOnly)))
        return nullptr;
    files[n].bytes.clear();
    log.push_back("create " + n);
    return std::unique_ptr<FileWriter>(new FakeWriter(*this, n));
}

std::string FakeFileStore::ProfileString(const std::string& path, const std::string& section,
                                         const std::string& key) {
    return ProfileText(Text(path)).String(section, key);
}

std::vector<std::string> FakeFileStore::ProfileSection(const std::string& path,
                                                       const std::string& section) {
    return ProfileText(Text(path)).Section(section);
}
