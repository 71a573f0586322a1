// Files and directories of the host: reading and writing bytes, listings,
// status, making and removing. Behind the file! actions (io/file_access.h),
// `checksum` of a file!, `size?` and the directory routines.
//
// Paths are local (POSIX) paths in UTF-8. A path holding a NUL names no
// file: every operation answers as for a file that cannot be opened. Every
// operation closes what it opened before it answers; none keeps state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/memory.h"

namespace vyr::files {

// The most that one read gives: the data area of the largest series.
inline constexpr int64_t max_read_bytes = memory::max_series_bytes;

// The whole content of the file into `out`; false when it cannot be opened
// or read (what was read so far is then of no use).
bool read_whole(const std::string& path, std::vector<uint8_t>& out);

// Up to `part` bytes (all when negative) from byte offset `seek` (the start
// when negative) into `out`. A directory, a file that cannot be opened and a
// failed read answer false. The answer holds exactly the bytes read: a file
// that ends early (or that reports no size, as those of /proc) gives what
// is there; an offset past the end gives nothing.
// More than `limit` bytes (what one series can hold) raise the no-memory
// error instead of growing without end.
bool read_range(const std::string& path, int64_t seek, int64_t part, std::vector<uint8_t>& out,
                int64_t limit = max_read_bytes);

// The size in bytes of the file, or -1 for a directory or a file that
// cannot be opened.
int64_t size_of(const std::string& path);

// How write_bytes places the bytes: by default the file is replaced; with
// `append` they go at its end; with a `seek` offset of 0 or more the file
// is kept and they are written from that offset. A missing file is made.
struct WriteMode {
    bool append = false;
    int64_t seek = -1;
};

// Writes the bytes as `mode` says; false when the file cannot be opened, a
// write fails or closing reports a failure (every byte is written, or the
// answer is false).
bool write_bytes(const std::string& path, const uint8_t* bytes, size_t size, WriteMode mode);

// Replaces the file's content with the bytes (making the file when it is
// missing); false when it cannot be opened or a write fails.
bool write_whole(const std::string& path, const std::string& bytes);

// Whether a file or a directory of that path exists.
bool exists(const std::string& path);

// What stat tells of a path.
struct Info {
    bool directory = false;
    int64_t size = 0;
    int64_t modified_seconds = 0;  // since 1970-01-01 UTC
    int32_t modified_nanoseconds = 0;
};
// What stat tells of the path (links followed); false when it does not exist.
bool info_of(const std::string& path, Info& out);

// Makes one directory; false when it exists already or its parent is missing.
bool make_dir(const std::string& path);

// Removes a file, or (with `directory`) an empty directory; false on failure.
bool remove(const std::string& path, bool directory);

// Moves a file or directory to a new name; false on failure.
bool rename(const std::string& from, const std::string& to);

// The names in a directory in name order, directories with a final "/"
// ("." and ".." left out); false when it cannot be listed.
bool list_dir(const std::string& path, std::vector<std::string>& names);

}  // namespace vyr::files
