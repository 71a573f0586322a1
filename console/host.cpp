// The few host services the console's own code needs before the library has
// them: reading and writing a whole text file, whether a path exists,
// making a folder with its parents, listing a folder (all through io/files),
// the current folder, and the command line. They are routines with
// "Internal Use Only" specs, called only from the console's Vyr code.
#include <string>
#include <vector>

#include "console/host.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string_buffer.h"
#include "io/files.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace vyr::console::host {

namespace {

// The UTF-8 path of a file! (or string!) value.
std::string path_of(const Cell& file) {
    std::string out;
    uint32_t n = memory::series_length(file.w2);
    for (uint32_t i = file.w1; i < n; ++i) {
        uint32_t cp = string_t::char_at(file, i);
        uint8_t bytes[4];
        out.append(reinterpret_cast<const char*>(bytes), unicode::utf8_encode_char(cp, bytes));
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
    std::vector<uint8_t> bytes;
    if (!files::read_whole(path_of(args[0]), bytes)) raise_access(err_id::access::cannot_open, args[0]);
    stack::Mark mark;
    args[0] = make_text(std::string(bytes.begin(), bytes.end()), type_string);
    mark.restore();
    return Status::ok;
}

Status write_file(Cell* args, uint32_t) {
    if (!files::write_whole(path_of(args[0]), path_of(args[1]))) raise_access(err_id::access::cannot_open, args[0]);
    args[0] = none_t::value;
    return Status::ok;
}

Status exists(Cell* args, uint32_t) {
    args[0] = logic_t::value_of(files::exists(path_of(args[0])));
    return Status::ok;
}

Status make_dir(Cell* args, uint32_t) {
    if (!files::make_dirs(path_of(args[0]))) raise_access(err_id::access::no_create, args[0]);
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
    std::vector<std::string> names;
    files::list_dir(path_of(args[0]), names);
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
