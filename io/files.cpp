// Files of the host (see files.h).
#include "io/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

bool write_whole(const std::string& path, const std::string& bytes) {
    if (path.find('\0') != std::string::npos) return false;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const char* p = bytes.data();
    size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= size_t(n);
    }
    return ::close(fd) == 0 && ok;
}

bool exists(const std::string& path) {
    struct stat st {};
    return path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0;
}

namespace {
bool is_dir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

bool make_dirs(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return is_dir(path);
}

bool list_dir(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::string folder = path.empty() ? "." : path;
    if (folder.find('\0') != std::string::npos) return false;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return false;
    if (folder.back() != '/') folder += '/';
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (is_dir(folder + name)) name += '/';
        names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return true;
}

}  // namespace vyr::files
