// The file! actions carried out by the host (see file_access.h).
#include "io/file_access.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/string_buffer.h"
#include "datatypes/text_codec.h"
#include "datatypes/text_errors.h"
#include "datatypes/unset.h"
#include "io/files.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace vyr::file_access {

namespace {

constexpr uint8_t line_end = '\n';
constexpr int64_t not_given = -1;

[[noreturn]] void raise_cannot_open(const Cell& file) {
    raise_error(err_cat::access, err_id::access::cannot_open, &file);
}

// A /part or /seek argument as a whole number (a fraction is cut off),
// `not_given` for a missing refinement or a negative number.
int64_t count_of(const Cell* arg) {
    if (!arg) return not_given;
    double n = type_of(*arg) == type_integer ? double(int32_t(arg->w2)) : cell_float(*arg);
    if (!(n >= 0)) return not_given;
    return n >= 9.0e18 ? int64_t(9.0e18) : int64_t(n);
}

// ---- Reading ------------------------------------------------------------------------------

// Every CR LF of the bytes becomes LF, in place.
void fold_crlf(std::vector<uint8_t>& bytes) {
    size_t out = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        bytes[out++] = bytes[i];
    }
    bytes.resize(out);
}

// A new string! of the UTF-8 bytes on the argument stack.
Cell* push_text(const uint8_t* bytes, size_t n) { return string_t::push_from_utf8(bytes, uint32_t(n)); }

// A block of the lines: each LF ends a line (less one CR before it); the
// bytes after the last LF, when there are any, are a last line.
Cell* push_lines(const std::vector<uint8_t>& bytes) {
    Cell* block = block_t::push_new(16);
    size_t start = 0;
    size_t n = bytes.size();
    while (start < n) {
        size_t lf = start;
        while (lf < n && bytes[lf] != line_end) ++lf;
        size_t end = lf;
        if (lf < n && end > start && bytes[end - 1] == '\r') --end;
        stack::Mark mark;
        Cell* line = push_text(bytes.data() + start, end - start);
        block_t::append_value(*block, *line);
        mark.restore();
        start = lf + 1;
    }
    return block;
}

}  // namespace

Cell bytes_value(std::vector<uint8_t>& bytes, bool binary, bool lines) {
    stack::Mark mark;
    Cell* made;
    if (binary) made = binary_t::push_bytes(bytes.data(), uint32_t(bytes.size()));
    else if (bytes.empty()) made = push_text(bytes.data(), 0);
    else if (lines) made = push_lines(bytes);
    else {
        fold_crlf(bytes);
        made = push_text(bytes.data(), bytes.size());
    }
    Cell result = *made;
    mark.restore();
    return result;
}

namespace {

// The entries of a directory as a block of file! names, directories ending
// in "/". A name that is not valid UTF-8 keeps its valid characters, the
// others becoming U+FFFD, so one odd name does not spoil the listing.
Cell read_dir(const Cell& dir) {
    std::vector<std::string> names;
    if (!files::list_dir(file_t::to_local_path(dir), names)) raise_cannot_open(dir);
    stack::Mark mark;
    Cell* block = block_t::push_new(int32_t(names.size()));
    for (const std::string& name : names) {
        stack::Mark each;
        Cell* text = stack::push_copy(Cell{});
        string_t::make_at(*text, uint32_t(name.size()));
        text_codec::append_utf8_lenient(string_t::node_of(*text), reinterpret_cast<const uint8_t*>(name.data()),
                                        name.size(), false);
        set_type(*text, type_file);
        block_t::append_value(*block, *text);
        each.restore();
    }
    Cell result = *block;
    mark.restore();
    return result;
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool, Cell* as) {
    if (as) text_errors::raise_not_done();
    if (file_t::dir_name_q(*source)) {
        *source = read_dir(*source);
        return source;
    }
    // What does not fit one series is refused before it is read: a file
    // whose size says so at once, any other (a pipe, a growing file) once
    // one byte more than fits has come.
    constexpr int64_t largest = int64_t(memory::max_series_bytes);
    std::string path = file_t::to_local_path(*source);
    int64_t from = std::max<int64_t>(0, count_of(seek));
    int64_t length = count_of(part);
    if (length < 0 || length > largest) length = largest + 1;
    files::Info info;
    if (files::info_of(path, info) && !info.directory && std::min(info.size - from, length) > largest)
        text_errors::raise_no_memory();
    std::vector<uint8_t> bytes;
    if (!files::read_range(path, count_of(seek), length, bytes)) raise_cannot_open(*source);
    if (int64_t(bytes.size()) > largest) text_errors::raise_no_memory();
    *source = bytes_value(bytes, binary, lines);
    return source;
}

// ---- Writing ------------------------------------------------------------------------------

void append_bytes(std::vector<uint8_t>& out, const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }

// The UTF-8 of a text value, at most `part` characters when 0 or more.
void append_text_bytes(std::vector<uint8_t>& out, Cell& text, int64_t part) {
    int32_t limit = part < 0 ? -1 : int32_t(std::min<int64_t>(part, INT32_MAX));
    if (limit == 0) return;
    const uint8_t* p = text_codec::to_utf8(text, limit);
    append_bytes(out, p, size_t(limit));
}

// A /part of write must be an integer!.
int64_t write_part_of(const Cell* part) {
    if (!part) return not_given;
    if (type_of(*part) != type_integer) string_t::raise_invalid_refine_arg("part", *part);
    return int64_t(int32_t(part->w2));
}

// The bytes of the value, then a line end with `newline`.
void append_value_bytes(std::vector<uint8_t>& out, Cell& value, int64_t part) {
    uint32_t t = type_of(value);
    if (t == type_string) {
        append_text_bytes(out, value, part);
    } else if (t == type_binary) {
        uint32_t len = memory::series_length(value.w2);
        uint32_t from = std::min(value.w1, len);
        size_t n = len - from;
        if (part >= 0) n = size_t(std::min<int64_t>(part, int64_t(n)));
        append_bytes(out, memory::buffer_of(value.w2)->head_ptr() + from, n);
    } else {
        stack::Mark mark;
        Cell* text = stack::push_copy(Cell{});
        string_t::make_at(*text, 16);
        Cell v = value;
        string_t::mold_value(v, *text, 0, false);
        append_text_bytes(out, *text, part);
        mark.restore();
    }
}

Cell* write(Cell* target, Cell* data, bool, bool lines, bool, bool append, Cell* part, Cell* seek, Cell* allow,
            Cell* as) {
    if (allow || as) text_errors::raise_not_done();
    int64_t limit = write_part_of(part);
    if (part && limit < 0) {  // a negative /part writes nothing
        *target = unset_t::value;
        return target;
    }
    std::vector<uint8_t> bytes;
    if (lines && type_of(*data) == type_block) {
        uint32_t len = memory::series_length(data->w2);
        for (uint32_t i = data->w1; i < len; ++i) {
            stack::Mark each;
            Cell* item = stack::push_copy(*memory::cell_at(data->w2, i));
            append_value_bytes(bytes, *item, not_given);
            each.restore();
            bytes.push_back(line_end);
        }
    } else {
        append_value_bytes(bytes, *data, limit);
        if (lines) bytes.push_back(line_end);
    }
    files::WriteMode mode{append, count_of(seek)};
    if (!files::write_bytes(file_t::to_local_path(*target), bytes.data(), bytes.size(), mode))
        raise_cannot_open(*target);
    *target = unset_t::value;
    return target;
}

// ---- Names ------------------------------------------------------------------------------

// Removes a directory for a directory name, else a file.
Cell* remove_file(Cell* target) {
    *target = logic_t::value_of(files::remove(file_t::to_local_path(*target), file_t::dir_name_q(*target)));
    return target;
}

Cell* rename(Cell* from, Cell* to) {
    *from = logic_t::value_of(files::rename(file_t::to_local_path(*from), file_t::to_local_path(*to)));
    return from;
}

// The UTC date and time (to the millisecond) of the last change of the
// file, or none when it is missing or a name ending in "/" is not a
// directory.
Cell* query(Cell* target) {
    files::Info info;
    Cell t = *target;
    uint32_t n = string_t::length_at(t);
    bool dir_form = n > 0 && string_t::char_at(t, t.w1 + n - 1) == '/';
    if (!files::info_of(file_t::to_local_path(*target), info) || (dir_form && !info.directory)) {
        *target = none_t::value;
        return target;
    }
    constexpr int64_t seconds_per_day = 86400;
    int64_t days = info.modified_seconds / seconds_per_day;
    int64_t second = info.modified_seconds % seconds_per_day;
    if (second < 0) {
        second += seconds_per_day;
        --days;
    }
    double time = double(second) + double(info.modified_nanoseconds / 1000000) / 1000.0;
    Cell date{type_date, uint32_t(date_t::from_days(int32_t(days + date_t::epoch_days), 0, true)), 0, 0};
    set_cell_float(date, time);
    *target = date;
    return target;
}

}  // namespace

std::vector<uint8_t> value_bytes(Cell& value, int64_t part) {
    std::vector<uint8_t> out;
    append_value_bytes(out, value, part);
    return out;
}

void install() {
    file_t::HostActions actions;
    actions.remove = remove_file;
    actions.query = query;
    actions.rename = rename;
    actions.read = read;
    actions.write = write;
    file_t::install_host(actions);
}

}  // namespace vyr::file_access
