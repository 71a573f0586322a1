// The few host services the console's own code needs before the library has
// them: reading and writing a whole text file, whether a path exists,
// making a folder with its parents, the current folder, and the command
// line. They are routines with "Internal Use Only" specs, called only from
// console/cli.vyr.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "console/host.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string_buffer.h"
#include "datatypes/text_codec.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/stack.h"

namespace vyr::console::host {

namespace {

// The UTF-8 path of a file! (or string!) value.
std::string path_of(const Cell& file) {
    std::string out;
    uint32_t n = memory::series_length(file.w2);
    for (uint32_t i = file.w1; i < n; ++i) {
        uint32_t cp = string_t::char_at(file, i);
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

Cell make_text(const std::string& text, uint32_t type) {
    Cell* s = string_t::push_from_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    set_type(*s, type);
    return *s;
}

[[noreturn]] void raise_access(int id, const Cell& file) { raise_error(err_cat::access, id, &file); }

}  // namespace

Status read_file(Cell* args, uint32_t) {
    std::string path = path_of(args[0]), text;
    FILE* f = std::fopen(path.c_str(), "rb");
    bool ok = f != nullptr;
    if (ok) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        ok = !std::ferror(f);
        std::fclose(f);
    }
    if (!ok) raise_access(err_id::access::cannot_open, args[0]);
    stack::Mark mark;
    args[0] = make_text(text, type_string);
    mark.restore();
    return Status::ok;
}

Status write_file(Cell* args, uint32_t) {
    std::string path = path_of(args[0]), text = path_of(args[1]);
    FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr;
    if (ok) {
        ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        ok = std::fclose(f) == 0 && ok;
    }
    if (!ok) raise_access(err_id::access::cannot_open, args[0]);
    args[0] = none_t::value;
    return Status::ok;
}

Status exists(Cell* args, uint32_t) {
    struct stat st {};
    args[0] = logic_t::value_of(::stat(path_of(args[0]).c_str(), &st) == 0);
    return Status::ok;
}

Status make_dir(Cell* args, uint32_t) {
    std::string path = path_of(args[0]);
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) raise_access(err_id::access::no_create, args[0]);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) raise_access(err_id::access::no_create, args[0]);
    args[0] = none_t::value;
    return Status::ok;
}

Status change_dir(Cell* args, uint32_t) {
    if (!platform::set_current_dir(path_of(args[0]))) raise_access(err_id::access::cannot_open, args[0]);
    args[0] = none_t::value;
    return Status::ok;
}

Status current_dir(Cell* args, uint32_t) {
    stack::Mark mark;
    args[0] = make_text(platform::get_current_dir() + "/", type_file);
    mark.restore();
    return Status::ok;
}

Status command_line(Cell* args, uint32_t) {
    stack::Mark mark;
    Cell* block = block_t::push_new(uint32_t(platform::arg_count()));
    for (int i = 1; i < platform::arg_count(); ++i) {
        Cell text = make_text(platform::arg_vector()[i], type_string);
        block_t::append_value(*block, text);
    }
    args[0] = *block;
    mark.restore();
    return Status::ok;
}

Status list_dir(Cell* args, uint32_t) {
    std::string path = path_of(args[0]);
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.empty() ? "." : path.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            struct stat st {};
            if (::stat((path + (path.empty() || path.back() == '/' ? "" : "/") + name).c_str(), &st) == 0 &&
                S_ISDIR(st.st_mode))
                name += "/";
            names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    stack::Mark mark;
    Cell* block = block_t::push_new(int32_t(names.size()));
    for (const std::string& name : names) {
        Cell file = make_text(name, type_file);
        block_t::append_value(*block, file);
    }
    args[0] = *block;
    mark.restore();
    return Status::ok;
}

}  // namespace vyr::console::host
