// Files of the host, read whole or asked for their size. Behind `checksum`
// of a file! and `size?`; file ports and `read`/`write` come here too.
//
// Paths are local (POSIX) paths in UTF-8. A path holding a NUL names no
// file: every query answers as for a file that cannot be opened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyr::files {

// The whole content of the file into `out`; false when it cannot be opened
// or read (what was read so far is then of no use).
bool read_whole(const std::string& path, std::vector<uint8_t>& out);

// The size in bytes of the file, or -1 for a directory or a file that
// cannot be opened.
int64_t size_of(const std::string& path);

// Replaces the file's content with the bytes (making the file when it is
// missing); false when it cannot be opened or a write fails.
bool write_whole(const std::string& path, const std::string& bytes);

// Whether a file or a directory of that path exists.
bool exists(const std::string& path);

// Makes the directory and every missing directory above it; true when the
// path is a directory afterwards.
bool make_dirs(const std::string& path);

// The names in a directory in name order, directories with a final "/"
// ("." and ".." left out); false when it cannot be listed.
bool list_dir(const std::string& path, std::vector<std::string>& names);

}  // namespace vyr::files
