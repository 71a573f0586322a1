// file!: mold, local paths, the file actions and registration (see file.h).
#include "datatypes/file.h"

#include <algorithm>

#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_errors.h"
#include "datatypes/url.h"
#include "runtime/stack.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace vyr::file_t {

using namespace registry;

Cell* push(const Cell& file) { return stack::push_copy(file); }

std::string to_local_path(const Cell& file) {
    Cell f = file;
    uint32_t len = string_t::length_at(f);
    std::string out;
    out.reserve(len);
    for (uint32_t i = 0; i < len; ++i) {
        uint8_t b[4];
        unsigned n = unicode::utf8_encode_char(string_t::char_at(f, f.w1 + i), b);
        out.append(reinterpret_cast<const char*>(b), n);
    }
    return out;
}

// The portable form is the POSIX path: an absolute name is its own local
// form, a relative one is read from the current directory.
void to_local_text(const Cell& file, Cell& output, bool full) {
    Cell f = file;
    bool absolute = string_t::length_at(f) > 0 && string_t::char_at(f, f.w1) == '/';
    if (full && !absolute) {
        Cell dir = current_dir();
        string_t::append_string(output, dir, -1, true);
    }
    string_t::append_string(output, f, -1, true);
}

Cell current_dir() {
    std::string dir = platform::get_current_dir();
    if (dir.empty() || dir.back() != '/') dir += '/';
    Cell c;
    string_t::make_string_from_text(dir.data(), uint32_t(dir.size()), &c, string_t::encoding_utf8);
    return c;
}

// "%" and the name, in double quotes when a character below 127 is not one
// a url may hold unescaped; the characters themselves are written as they
// are. An empty name is %"".
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell f = *value;
    uint32_t whole = string_t::length_at(f);
    uint32_t from = f.w1, end = from + whole;
    if (part) end = budget < 0 ? from : from + std::min<uint32_t>(whole, uint32_t(budget));
    NodeId out = string_t::node_of(*buffer);
    string_t::append_code_point(out, '%');
    if (whole == 0) {
        string_t::append_text(out, "\"\"");
        return budget - 1;
    }
    bool quoted = false;
    for (uint32_t i = from; i < end && !quoted; ++i) {
        uint32_t c = string_t::char_at(f, i);
        quoted = c < 127 && !url_t::allowed_q(uint8_t(c), url_t::mode_url);
    }
    if (quoted) string_t::append_code_point(out, '"');
    for (uint32_t i = from; i < end; ++i) string_t::append_code_point(out, string_t::char_at(f, i));
    if (quoted) string_t::append_code_point(out, '"');
    return budget - int32_t(end - from) - 1;
}

bool dir_name_q(const Cell& file) {
    Cell f = file;
    uint32_t n = string_t::length_at(f);
    if (n == 0) return false;
    auto at_end = [&](uint32_t k) { return string_t::char_at(f, f.w1 + n - k); };  // k = 1: the last character
    auto slash = [](uint32_t c) { return c == '/' || c == '\\'; };
    uint32_t c1 = at_end(1);
    if (slash(c1)) return true;
    if (c1 != '.') return false;
    if (n == 1) return true;
    uint32_t c2 = at_end(2);
    if (slash(c2)) return true;
    if (c2 != '.') return false;
    return n == 2 || slash(at_end(3));
}

namespace {

HostActions host;

// Each action goes to the host's implementation, once the I/O layer has
// installed it.
template <typename F>
F installed(F f) {
    if (!f) text_errors::raise_not_done();
    return f;
}

Cell* remove_file(Cell* target) { return installed(host.remove)(target); }
Cell* query(Cell* target) { return installed(host.query)(target); }
Cell* rename(Cell* from, Cell* to) { return installed(host.rename)(from, to); }
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    return installed(host.read)(source, part, seek, binary, lines, info, as);
}
Cell* write(Cell* target, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as) {
    return installed(host.write)(target, data, binary, lines, info, append, part, seek, allow, as);
}

}  // namespace

void install_host(const HostActions& actions) { host = actions; }

void init() {
    Row row;
    row.inherit({slot_make, slot_to, slot_form, slot_path_access, slot_compare, slot_append, slot_at, slot_back,
                   slot_change, slot_clear, slot_copy, slot_find, slot_head, slot_head_q, slot_index_q, slot_insert,
                   slot_length_q, slot_move, slot_next, slot_pick, slot_poke, slot_remove, slot_reverse, slot_select,
                   slot_skip, slot_swap, slot_tail, slot_tail_q, slot_take, slot_modify});
    row.set(slot_mold, mold);
    row.set(slot_delete, remove_file);
    row.set(slot_query, query);
    row.set(slot_read, read);
    row.set(slot_rename, rename);
    row.set(slot_write, write);
    row.register_as(type_file, type_url, "file!");
}

}  // namespace vyr::file_t
