// Files and directories of the host (see files.h).
#include "io/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "runtime/errors.h"

namespace vyr::files {

namespace {
constexpr size_t read_block = 65536;

bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

// A read-only descriptor of the path, or -1.
int open_read(const std::string& path) {
    if (has_nul(path)) return -1;
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

bool is_dir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads until `want` bytes are in `out` (no limit when negative) or the file
// ends; false when a read fails.
bool read_to(int fd, int64_t want, std::vector<uint8_t>& out) {
    uint8_t block[read_block];
    while (want < 0 || int64_t(out.size()) < want) {
        size_t ask = sizeof block;
        if (want >= 0) ask = size_t(std::min<int64_t>(int64_t(ask), want - int64_t(out.size())));
        ssize_t n = ::read(fd, block, ask);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.insert(out.end(), block, block + n);
    }
    return true;
}

bool write_all(int fd, const uint8_t* p, size_t left) {
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= size_t(n);
    }
    return true;
}
}  // namespace

bool read_whole(const std::string& path, std::vector<uint8_t>& out) { return read_range(path, -1, -1, out); }

bool read_range(const std::string& path, int64_t seek, int64_t part, std::vector<uint8_t>& out, int64_t limit) {
    out.clear();
    // A source without an end (/dev/zero, an endless pipe) stops one byte
    // past the limit, so that the excess is seen.
    bool bounded = part < 0 || part > limit;
    if (bounded) part = limit + 1;
    int fd = open_read(path);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    if (ok && seek > 0) ok = ::lseek(fd, off_t(seek), SEEK_SET) >= 0;
    if (ok && S_ISREG(st.st_mode)) {
        // One allocation of the expected size; the read loop still stops at
        // the real end, so a file that shrank gives only what it holds.
        int64_t expected = std::max<int64_t>(0, int64_t(st.st_size) - std::max<int64_t>(0, seek));
        if (part >= 0) expected = std::min(expected, part);
        out.reserve(size_t(expected));
    }
    if (ok) ok = read_to(fd, part, out);
    ::close(fd);
    if (!ok) out.clear();
    if (ok && bounded && int64_t(out.size()) > limit) {
        std::vector<uint8_t>().swap(out);
        raise_error(err_cat::internal, err_id::internal::no_memory);
    }
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

bool write_bytes(const std::string& path, const uint8_t* bytes, size_t size, WriteMode mode) {
    if (has_nul(path)) return false;
    bool keep = mode.append || mode.seek >= 0;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (keep ? 0 : O_TRUNC);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return false;
    bool ok = true;
    if (mode.seek > 0) ok = ::lseek(fd, off_t(mode.seek), SEEK_SET) >= 0;
    if (ok && mode.append) ok = ::lseek(fd, 0, SEEK_END) >= 0;
    if (ok) ok = write_all(fd, bytes, size);
    return ::close(fd) == 0 && ok;
}

bool write_whole(const std::string& path, const std::string& bytes) {
    return write_bytes(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), WriteMode{});
}

bool exists(const std::string& path) {
    struct stat st {};
    return !has_nul(path) && ::stat(path.c_str(), &st) == 0;
}

bool info_of(const std::string& path, Info& out) {
    struct stat st {};
    if (has_nul(path) || ::stat(path.c_str(), &st) != 0) return false;
    out.directory = S_ISDIR(st.st_mode);
    out.size = int64_t(st.st_size);
    out.modified_seconds = int64_t(st.st_mtim.tv_sec);
    out.modified_nanoseconds = int32_t(st.st_mtim.tv_nsec);
    return true;
}

bool make_dir(const std::string& path) { return !has_nul(path) && ::mkdir(path.c_str(), 0777) == 0; }

bool remove(const std::string& path, bool directory) {
    if (has_nul(path)) return false;
    return (directory ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0;
}

bool rename(const std::string& from, const std::string& to) {
    if (has_nul(from) || has_nul(to)) return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool list_dir(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::string folder = path.empty() ? "." : path;
    if (has_nul(folder)) return false;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return false;
    if (folder.back() != '/') folder += '/';
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
    // Sorted by the names themselves, before directories gain their "/".
    std::sort(names.begin(), names.end());
    for (std::string& name : names)
        if (is_dir(folder + name)) name += '/';
    return true;
}

}  // namespace vyr::files
