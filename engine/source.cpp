// Vyr source text (see source.h).
#include "engine/source.h"

#include "datatypes/frames.h"
#include "datatypes/symbol.h"
#include "engine/eval.h"
#include "engine/lexer.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace vyr::source {

namespace {
constexpr std::string_view header_word = "Vyr";
constexpr std::string_view system_suffix = "/System";

bool header_blank(char c) { return c == ' ' || c == '\n' || c == '\t'; }
}  // namespace

size_t find_header(std::string_view text) {
    for (size_t p = text.find(header_word); p != std::string_view::npos; p = text.find(header_word, p + 1)) {
        size_t q = p + header_word.size();
        if (text.substr(q, system_suffix.size()) == system_suffix) q += system_suffix.size();
        while (q < text.size() && header_blank(text[q])) ++q;
        if (q < text.size() && text[q] == '[') return p;
    }
    return std::string_view::npos;
}

Cell* load(std::string_view text) {
    lexer::Request request;
    request.text = reinterpret_cast<const uint8_t*>(text.data());
    request.length = uint32_t(text.size());
    Cell* code = stack::push_copy(Cell{type_none, 0, 0, 0});
    lexer::lexer_scan(code, request, nullptr);
    return code;
}

int64_t header_position(const Cell& block) {
    if (type_of(block) != type_block) return -1;
    uint32_t n = memory::series_length(block.w2);
    for (uint32_t i = block.w1; i + 1 < n; ++i) {
        const Cell& c = *memory::cell_at(block.w2, i);
        if (type_of(c) != type_word || symbol_t::name(int32_t(c.w2)) != header_word) continue;
        return type_of(*memory::cell_at(block.w2, i + 1)) == type_block ? int64_t(i) : -1;
    }
    return -1;
}

bool skip_header(Cell& block) {
    int64_t at = header_position(block);
    if (at < 0) return false;
    block.w1 = uint32_t(at + 2);
    return true;
}

Status evaluate(const Cell& code) { return eval::eval_block(frames::markers().body, code, false); }

Outcome run(std::string_view text, Status& status) {
    status = Status::ok;
    size_t start = find_header(text);
    if (start == std::string_view::npos) return Outcome::no_header;
    stack::Mark mark;
    Cell* code = load(text.substr(start));
    if (!skip_header(*code)) {
        mark.restore();
        return Outcome::not_a_program;
    }
    status = evaluate(*code);
    mark.restore();
    return Outcome::ran;
}

}  // namespace vyr::source
