// Files of the host (see files.h).
#include "io/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vyr::files {

namespace {
constexpr size_t read_block = 65536;

// A read-only descriptor of the path, or -1.
int open_read(const std::string& path) {
    if (path.find('\0') != std::string::npos) return -1;
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}
}  // namespace

bool read_whole(const std::string& path, std::vector<uint8_t>& out) {
    out.clear();
    int fd = open_read(path);
    if (fd < 0) return false;
    bool ok = true;
    uint8_t block[read_block];
    for (;;) {
        ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        out.insert(out.end(), block, block + n);
    }
    ::close(fd);
    return ok;
}

int64_t size_of(const std::string& path) {
    int fd = open_read(path);
    if (fd < 0) return -1;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) && st.st_size >= 0;
    ::close(fd);
    return ok ? int64_t(st.st_size) : -1;
}

}  // namespace vyr::files
