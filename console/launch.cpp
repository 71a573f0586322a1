// Script start (see launch.h).
#include "console/launch.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/lexer.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/platform.h"

namespace vyr::console {

namespace {

constexpr std::string_view header_word = "Vyr";
constexpr std::string_view system_suffix = "/System";

bool header_blank(char c) { return c == ' ' || c == '\n' || c == '\t'; }
bool switch_q(const char* arg) { return std::strncmp(arg, "--", 2) == 0; }

// Whether the text holds "Vyr/System" in any letter case.
bool mentions_vyr_system(std::string_view text) {
    constexpr std::string_view wanted = "vyr/system";
    auto it = std::search(text.begin(), text.end(), wanted.begin(), wanted.end(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    return it != text.end();
}

// A file! value of the name, for error reports.
Cell file_value(const char* name) {
    Cell* file = string_t::push_text(name, uint32_t(std::strlen(name)), string_t::encoding_utf8);
    set_type(*file, type_file);
    return *file;
}

// The whole file as bytes; a file that cannot be read raises access error
// `cannot-open` naming it.
std::string read_script(const char* name) {
    std::string text;
    FILE* f = std::fopen(name, "rb");
    bool ok = f != nullptr;
    if (ok) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        ok = !std::ferror(f);
        std::fclose(f);
    }
    if (!ok) {
        Cell file = file_value(name);
        raise_error(err_cat::access, err_id::access::cannot_open, &file);
    }
    return text;
}

// Relative names in the script refer to its own folder: the current
// directory becomes the folder of the script, unless the name has none.
void enter_script_folder(const char* name) {
    std::string_view path(name);
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return;
    std::string folder(path.substr(0, slash == 0 ? 1 : slash));
    if (folder == ".") return;
    if (!platform::set_current_dir(folder)) {
        Cell dir = file_value(folder.c_str());
        raise_error(err_cat::access, err_id::access::cannot_open, &dir);
    }
}

// The position of the word `Vyr` (spelled so) followed by a block, or -1.
int64_t header_position(const Cell& block) {
    uint32_t n = memory::series_length(block.w2);
    for (uint32_t i = block.w1; i + 1 < n; ++i) {
        const Cell& c = *memory::cell_at(block.w2, i);
        if (type_of(c) != type_word || symbol_t::name(int32_t(c.w2)) != header_word) continue;
        return type_of(*memory::cell_at(block.w2, i + 1)) == type_block ? int64_t(i) : -1;
    }
    return -1;
}

void print_error(const char* message) { platform::runtime_print_line({"*** Error: ", message}); }

}  // namespace

const char* script_argument(int argc, const char* const* argv) {
    for (int i = 0; i < argc; ++i) {
        bool after_end_of_switches = i > 0 && std::strcmp(argv[i - 1], "--") == 0;
        if (switch_q(argv[i]) && !after_end_of_switches) continue;
        return argv[i];
    }
    return nullptr;
}

size_t find_header(std::string_view text) {
    for (size_t p = text.find(header_word); p != std::string_view::npos; p = text.find(header_word, p + 1)) {
        size_t q = p + header_word.size();
        if (text.substr(q, system_suffix.size()) == system_suffix) q += system_suffix.size();
        while (q < text.size() && header_blank(text[q])) ++q;
        if (q < text.size() && text[q] == '[') return p;
    }
    return std::string_view::npos;
}

void launch() {
    int argc = platform::arg_count();
    const char* const* argv = platform::arg_vector();
    const char* name = argc > 1 ? script_argument(argc - 1, argv + 1) : nullptr;
    if (!name) return;

    stack::Mark mark;
    std::string text = read_script(name);
    enter_script_folder(name);
    size_t start = find_header(text);
    if (start == std::string::npos) {
        print_error("Vyr header not found!");
        return;
    }
    lexer::Request request;
    request.text = reinterpret_cast<const uint8_t*>(text.data() + start);
    request.length = uint32_t(text.size() - start);
    Cell* code = stack::push_copy(Cell{type_none, 0, 0, 0});
    lexer::lexer_scan(code, request, nullptr);
    int64_t at = type_of(*code) == type_block ? header_position(*code) : -1;
    if (at < 0) {
        print_error(mentions_vyr_system(text) ? "contains Vyr/System code which requires compilation!"
                                              : "not a Vyr program!");
        return;
    }
    code->w1 = uint32_t(at + 2);
    Status s = eval::eval_block(frames::markers().body, *code, false);
    mark.restore();
    // A throw, break or return that the script did not catch reaches the
    // entry frame, as an escaped throw does.
    if (s != Status::ok) throw_code(uint32_t(s));
}

}  // namespace vyr::console
