// The dialer's files on the build machine, where the native tests and the tools
// run: POSIX calls, "\n" line ends.
#include "DialerFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

class PosixFiles : public DialerFiles {
  public:
    bool WriteText(const std::string& path, const std::string& text) override {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        return ok;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        return std::rename(from.c_str(), to.c_str()) == 0;
    }
    void Remove(const std::string& path) override { ::unlink(path.c_str()); }
    bool Append(const std::string& path, const std::string& bytes) override {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        bool ok = WriteAll(fd, bytes);
        ok = ::close(fd) == 0 && ok;
        return ok;
    }
    int64_t Size(const std::string& path) override {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            return -1;
        return int64_t(st.st_size);
    }
};

} // namespace

DialerFiles& SystemFiles() {
    static PosixFiles files;
    return files;
}
