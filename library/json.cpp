// JSON reading and writing (see json.h).
#include "library/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/percent.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/context.h"
#include "engine/lexer.h"
#include "engine/lexer_scan.h"
#include "library/text_builder.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr::library {

namespace {

// Nesting the reader accepts: what mold, copy and compare can walk, less
// room for the walks that hold the result.
constexpr uint32_t max_depth = series::cycle_stack_size - 100;
// Characters of the text shown after "Near:" in the error value.
constexpr size_t near_length = 40;

bool digit_q(uint32_t c) { return c >= '0' && c <= '9'; }
bool hex_q(uint32_t c) { return digit_q(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
uint32_t hex_value(uint32_t c) { return digit_q(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// The characters that cannot stand in a word; a key holding one stays a string.
bool not_word_char_q(uint32_t c) {
    switch (c) {
        case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')': case '{': case '}':
        case '"': case '#': case '%': case '$': case '@': case ':': case ';': case '\n': case 0xA0:
        case ' ': case '\t': case '\r': case '<': case '>':
            return true;
        default:
            return false;
    }
}

// Whether a key's text spells a word. Surrogate codes have no UTF-8 form and
// so no symbol: such a key stays a string.
bool word_like_q(const std::vector<uint32_t>& key) {
    if (key.empty()) return false;
    uint32_t first = key[0];
    if (not_word_char_q(first) || digit_q(first) || first == '\'') return false;
    for (uint32_t c : key)
        if (not_word_char_q(c) || (c >= 0xD800 && c <= 0xDFFF)) return false;
    return true;
}

// The grammar did not match; unwinds the reader to load_json.
struct NotJson {};
// Containers nested beyond max_depth.
struct TooDeep {};

// The reader: recursive descent over the text's units, depth bounded by
// max_depth. `mark` (the place after the last accepted value, name or line
// feed), `last_lf` and `line` place the error report.
template <typename Unit>
class Reader {
public:
    Reader(const Units& units) : units_(units), t_(reinterpret_cast<const Unit*>(units.bytes)), n_(units.count) {}

    Cell read() {
        value(0);
        if (pos_ != n_) throw NotJson{};
        return values_.back();
    }

    size_t mark = 0;
    size_t last_lf = 0;
    int32_t line = 1;

private:
    uint32_t peek() const { return pos_ < n_ ? uint32_t(t_[pos_]) : 0xFFFFFFFF; }

    void ws() {
        while (pos_ < n_) {
            Unit c = t_[pos_];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '\n') {
                ++pos_;
                last_lf = mark = pos_;
                ++line;
            } else {
                break;
            }
        }
    }

    void keyword(const char* word, const Cell& v) {
        size_t len = std::strlen(word);
        if (n_ - pos_ < len) throw NotJson{};
        for (size_t i = 0; i < len; ++i)
            if (t_[pos_ + i] != Unit(word[i])) throw NotJson{};
        pos_ += len;
        values_.push_back(v);
    }

    void value(uint32_t depth) {
        ws();
        switch (peek()) {
            case 't': keyword("true", logic_t::true_value); break;
            case 'f': keyword("false", logic_t::false_value); break;
            case 'n': keyword("null", none_t::value); break;
            case '{': object(depth + 1); break;
            case '[': array(depth + 1); break;
            case '"': values_.push_back(string_literal(false)); break;
            default: number(); break;
        }
        mark = pos_;
        ws();
    }

    void array(uint32_t depth) {
        if (depth > max_depth) throw TooDeep{};
        ++pos_;
        ws();
        size_t base = values_.size();
        if (peek() != ']') {
            for (;;) {
                value(depth);
                if (peek() != ',') break;
                ++pos_;
                ws();
            }
        }
        if (peek() != ']') throw NotJson{};
        ++pos_;
        close(base, false);
    }

    void object(uint32_t depth) {
        if (depth > max_depth) throw TooDeep{};
        ++pos_;
        ws();
        size_t base = values_.size();
        if (peek() != '}') {
            for (;;) {
                ws();
                if (peek() != '"') throw NotJson{};
                values_.push_back(string_literal(true));
                ws();
                if (peek() != ':') throw NotJson{};
                ++pos_;
                mark = pos_;
                value(depth);
                if (peek() != ',') break;
                ++pos_;
                ws();
            }
        }
        if (peek() != '}') throw NotJson{};
        ++pos_;
        close(base, true);
    }

    // The values from `base` become a block, or a map of key/value pairs.
    void close(size_t base, bool map) {
        uint32_t count = uint32_t(values_.size() - base);
        Cell block{};
        block_t::make_at(block, int32_t(count));
        if (count) std::memcpy(block_t::cell_at(block, 0), values_.data() + base, size_t(count) * sizeof(Cell));
        block_t::set_tail(block, count);
        values_.resize(base);
        if (map) {
            Cell m{};
            map_t::make_at(&m, &block, int32_t(count));
            values_.push_back(m);
        } else {
            values_.push_back(block);
        }
    }

    // A string literal from its opening quote; a key becomes a word when
    // its text spells one.
    Cell string_literal(bool key) {
        size_t start = ++pos_;
        bool escaped = false;
        for (;;) {
            if (pos_ >= n_) throw NotJson{};
            uint32_t c = t_[pos_];
            if (c == '"') break;
            if (c < 0x20) throw NotJson{};
            if (c != '\\') {
                ++pos_;
                continue;
            }
            escaped = true;
            uint32_t e = pos_ + 1 < n_ ? uint32_t(t_[pos_ + 1]) : 0;
            if (e == 'u') {
                if (n_ - pos_ < 6) throw NotJson{};
                for (size_t i = 2; i < 6; ++i)
                    if (!hex_q(t_[pos_ + i])) throw NotJson{};
                pos_ += 6;
            } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' ||
                       e == 't') {
                pos_ += 2;
            } else {
                throw NotJson{};
            }
        }
        size_t end = pos_++;
        if (!escaped && !key) return make_string_of(units_, start, end);
        std::string spelling;
        if (key && !escaped) {
            // Documents repeat their keys: a word is made once per spelling.
            spelling.assign(reinterpret_cast<const char*>(t_ + start), (end - start) * sizeof(Unit));
            auto known = words_.find(spelling);
            if (known != words_.end()) return known->second;
        }
        std::vector<uint32_t>& text = scratch_;
        text.clear();
        if (escaped) unescape(start, end, text);
        else for (size_t i = start; i < end; ++i) text.push_back(t_[i]);
        if (key && word_like_q(text)) {
            Cell word = key_word(text);
            if (!escaped) words_.emplace(std::move(spelling), word);
            return word;
        }
        TextBuilder out(text.size());
        for (uint32_t c : text) out.append(c);
        return out.make_string();
    }

    Cell key_word(const std::vector<uint32_t>& text) {
        std::string utf8;
        for (uint32_t c : text) {
            char buf[4];
            utf8.append(buf, unicode::utf8_encode(c, reinterpret_cast<unsigned char*>(buf)));
        }
        Cell word{};
        word_t::make_at(symbol_t::intern_text(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size())),
                        &word);
        return word;
    }

    uint32_t hex4(size_t at) const {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) v = v * 16 + hex_value(t_[at + i]);
        return v;
    }

    // Decodes the escapes of [start, end). A high surrogate must be
    // followed by the escape of a low one; a low one alone is kept.
    void unescape(size_t start, size_t end, std::vector<uint32_t>& out) {
        for (size_t i = start; i < end;) {
            uint32_t c = t_[i];
            if (c != '\\') {
                out.push_back(c);
                ++i;
                continue;
            }
            uint32_t e = t_[i + 1];
            i += 2;
            switch (e) {
                case 'b': out.push_back(8); continue;
                case 'f': out.push_back(12); continue;
                case 'n': out.push_back(10); continue;
                case 'r': out.push_back(13); continue;
                case 't': out.push_back(9); continue;
                case 'u': break;
                default: out.push_back(e); continue;
            }
            uint32_t cp = hex4(i);
            i += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                bool paired = end - i >= 6 && t_[i] == '\\' && t_[i + 1] == 'u' && hex_q(t_[i + 2]) &&
                              hex_q(t_[i + 3]) && hex_q(t_[i + 4]) && hex_q(t_[i + 5]);
                uint32_t low = paired ? hex4(i + 2) : 0;
                if (!paired || low < 0xDC00 || low > 0xDFFF) bad_escape(start, end);
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 6;
            }
            out.push_back(cp);
        }
    }

    [[noreturn]] void bad_escape(size_t start, size_t end) {
        Cell text = make_string_of(units_, start, end);
        raise_error(err_cat::script, err_id::script::invalid_data, &text);
    }

    // A number: its text converted by the lexer's rules, so integers that
    // do not fit 32 bits become floats and the range is the lexer's.
    void number() {
        size_t start = pos_;
        bool fraction = false;
        if (peek() == '-') ++pos_;
        if (peek() == '0') {
            ++pos_;
        } else if (peek() >= '1' && peek() <= '9') {
            while (digit_q(peek())) ++pos_;
        } else {
            pos_ = start;
            throw NotJson{};
        }
        if (peek() == '.' && pos_ + 1 < n_ && digit_q(t_[pos_ + 1])) {
            pos_ += 2;
            while (digit_q(peek())) ++pos_;
            fraction = true;
        }
        if (peek() == 'e' || peek() == 'E') {
            size_t q = pos_ + 1;
            if (q < n_ && (t_[q] == '+' || t_[q] == '-')) ++q;
            if (q < n_ && digit_q(t_[q])) {
                pos_ = q;
                while (digit_q(peek())) ++pos_;
                fraction = true;
            }
        }
        size_t digits = pos_ - start - (t_[start] == '-');
        if (!fraction && digits <= 9) {
            // Nine digits always fit 32 bits: the lexer's answer, without its work.
            int32_t n = 0;
            for (size_t i = pos_ - digits; i < pos_; ++i) n = n * 10 + int32_t(t_[i] - '0');
            values_.push_back(Cell{type_integer, 0, uint32_t(t_[start] == '-' ? -n : n), 0});
            return;
        }
        number_text_.clear();
        for (size_t i = start; i < pos_; ++i) number_text_.push_back(char(t_[i]));
        values_.push_back(number_of(number_text_, fraction));
    }

    static Cell number_of(const std::string& text, bool fraction) {
        const auto* start = reinterpret_cast<const uint8_t*>(text.data());
        const uint8_t* end = start + text.size();
        Cell cell{};
        if (!fraction) {
            lexer::IntegerValue v;
            if (lexer::scan_integer(start, end, 0, v) == lexer::code_ok) {
                if (v.is_float) float_t::make_at(&cell, v.number);
                else cell = Cell{type_integer, 0, uint32_t(v.integer), 0};
                return cell;
            }
        } else {
            double d = 0;
            if (lexer::scan_float(start, end, 0, d) == lexer::code_ok) return *float_t::make_at(&cell, d);
        }
        // Text the lexer refuses (a float of more digits than it reads):
        // loading it raises the lexer's own error.
        lexer::Request request;
        request.text = start;
        request.length = uint32_t(text.size());
        request.one = true;
        lexer::lexer_scan(&cell, request, nullptr);
        return cell;
    }

    const Units& units_;
    const Unit* t_;
    size_t n_;
    size_t pos_ = 0;
    std::vector<Cell> values_;  // the contents of the open containers
    std::vector<uint32_t> scratch_;
    std::unordered_map<std::string, Cell> words_;  // key spelling -> its word
    std::string number_text_;
};

Cell user_error(const Cell& message) {
    return error_t::create_at(err_cat::user, err_id::user::message, &message);
}

// "Invalid JSON string. Line: 3 Index: 25 Column: 4 Near: ..." (the index
// counts from 1 at the head of the text's series, `base` units before the
// reader's start; the column from the start of the line).
Cell json_error(const Units& units, size_t base, size_t mark, size_t last_lf, int32_t line) {
    TextBuilder message;
    std::string head = "Invalid JSON string. Line: " + std::to_string(line) + " Index: " + std::to_string(base + mark + 1) +
                       " Column: " + std::to_string(mark - last_lf) + " Near: ";
    message.append_ascii(head.data(), head.size());
    if (mark >= units.count) {
        message.append_ascii("<end of input>");
    } else {
        Cell near = make_string_of(units, mark, std::min(units.count, mark + near_length));
        message.append_formed(near, true);
    }
    Cell text = message.make_string();
    return user_error(text);
}

template <typename Unit>
Cell read_json(const Units& units, size_t base) {
    Reader<Unit> reader(units);
    try {
        return reader.read();
    } catch (const NotJson&) {
        return json_error(units, base, reader.mark, reader.last_lf, reader.line);
    } catch (const TooDeep&) {
        return error_t::create_at(err_cat::internal, err_id::internal::too_deep);
    }
}

// ---- Writing ------------------------------------------------------------------

class Writer {
public:
    Writer(const Cell& indent, bool ascii) : ascii_(ascii), pretty_(type_of(indent) == type_string) {
        if (pretty_) indent_ = Units::of(indent);
    }

    void value(const Cell& v) {
        switch (type_of(v)) {
            case type_none: out.append_ascii("null", 4); return;
            case type_logic: v.w1 ? out.append_ascii("true", 4) : out.append_ascii("false", 5); return;
            case type_integer: integer(int32_t(v.w2)); return;
            case type_float: real(v); return;
            case type_percent: {
                Cell f{};
                real(*float_t::make_at(&f, percent_t::value(v)));
                return;
            }
            case type_string: string_value(v); return;
            case type_map: map(v); return;
            case type_object: object(v); return;
            default: break;
        }
        uint32_t t = type_of(v);
        if (any_block_q(t)) {
            array(v);
        } else {
            TextBuilder text;
            text.append_formed(v, !string_t::string_like_q(t));
            string(text.data(), text.length(), text.width());
        }
    }

    TextBuilder out{4000};

private:
    void integer(int32_t n) {
        char buf[16];
        auto r = std::to_chars(buf, buf + sizeof buf, n);
        out.append_ascii(buf, size_t(r.ptr - buf));
    }

    // JSON has no infinities and no NaN: such a float is written as null.
    // Others are formed as the language forms them (system/options/float).
    void real(const Cell& v) {
        double d = float_t::get(v);
        if (!std::isfinite(d)) {
            out.append_ascii("null", 4);
            return;
        }
        float_text::FloatText text = float_t::format_float(d, float_text::FloatKind::float64);
        out.append_ascii(text.text, text.length);
    }

    void string_value(const Cell& v) {
        memory::SeriesBuffer* b = memory::buffer_of(v.w2);
        size_t total = b->length();
        size_t index = v.w1 < total ? v.w1 : total;
        string(b->head_ptr() + index * b->unit(), total - index, b->unit());
    }

    void string(const uint8_t* data, size_t count, unsigned width) {
        out.append('"');
        switch (width) {
            case 1: chars(reinterpret_cast<const uint8_t*>(data), count); break;
            case 2: chars(reinterpret_cast<const uint16_t*>(data), count); break;
            default: chars(reinterpret_cast<const uint32_t*>(data), count); break;
        }
        out.append('"');
    }

    // A word's name (UTF-8) as a JSON string.
    void name(std::string_view utf8) {
        bool ascii = true;
        for (char c : utf8) ascii &= uint8_t(c) < 0x80;
        if (ascii) {
            string(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), 1);
            return;
        }
        TextBuilder text;
        text.append_utf8(utf8);
        string(text.data(), text.length(), text.width());
    }

    bool normal_q(uint32_t c) const {
        if (c < 0x20 || c == '"' || c == '\\') return false;
        return !ascii_ || c <= 0x7F;
    }

    template <typename Unit>
    void chars(const Unit* p, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            uint32_t c = p[i];
            if (c < 0x80 && normal_q(c)) {
                // A run of plain ASCII goes in at once.
                size_t end = i + 1;
                while (end < count && p[end] < 0x80 && normal_q(p[end])) ++end;
                out.append_units(p + i, end - i);
                i = end - 1;
                continue;
            }
            if (normal_q(c)) {
                out.append(c);
                continue;
            }
            switch (c) {
                case '"': out.append_ascii("\\\"", 2); continue;
                case '\\': out.append_ascii("\\\\", 2); continue;
                case 8: out.append_ascii("\\b", 2); continue;
                case 12: out.append_ascii("\\f", 2); continue;
                case 10: out.append_ascii("\\n", 2); continue;
                case 13: out.append_ascii("\\r", 2); continue;
                case 9: out.append_ascii("\\t", 2); continue;
                default: break;
            }
            if (c <= 0xFFFF) {
                escape(c);
            } else {
                uint32_t n = c - 0x10000;
                escape((n >> 10) + 0xD800);
                escape((n & 1023) + 0xDC00);
            }
        }
    }

    void escape(uint32_t code) {
        static const char hex[] = "0123456789ABCDEF";
        char buf[6] = {'\\', 'u', hex[(code >> 12) & 15], hex[(code >> 8) & 15], hex[(code >> 4) & 15], hex[code & 15]};
        out.append_ascii(buf, 6);
    }

    void emit_indent(int32_t step) {
        level_ += step;
        for (int32_t i = 0; i < level_; ++i)
            for (size_t k = 0; k < indent_.count; ++k) out.append(indent_[k]);
    }

    // Before member k of a container: nothing before the first in compact
    // output, a line break and the indentation in pretty output.
    void separate(size_t k) {
        if (k > 0) out.append(',');
        if (!pretty_) return;
        out.append('\n');
        if (k == 0) emit_indent(1);
        else emit_indent(0);
    }

    void finish(size_t count, char close) {
        if (pretty_ && count > 0) {
            out.append('\n');
            emit_indent(-1);
        }
        out.append(uint32_t(close));
    }

    void array(const Cell& v) {
        series::cycle_push(v.w2);
        out.append('[');
        size_t k = 0;
        for (uint32_t i = v.w1; i < memory::series_length(v.w2); ++i, ++k) {
            separate(k);
            Cell item = *memory::cell_at(v.w2, i);
            value(item);
        }
        finish(k, ']');
        series::cycle_pop();
    }

    // One member: the key as a JSON string (a word formed, anything else
    // but a string molded), the separator, the value.
    void member(size_t k, const Cell& key, const Cell& item) {
        separate(k);
        if (type_of(key) == type_string) {
            string_value(key);
        } else if (any_word_q(type_of(key))) {
            name(symbol_t::name(int32_t(key.w2)));
        } else {
            TextBuilder text;
            text.append_formed(key, !all_word_q(type_of(key)));
            string(text.data(), text.length(), text.width());
        }
        out.append(':');
        if (pretty_) out.append(' ');
        value(item);
    }

    void map(const Cell& v) {
        series::cycle_push(v.w2);
        out.append('{');
        size_t k = 0;
        for (uint32_t i = 0; i + 1 < memory::series_length(v.w2); i += 2) {
            Cell item = *memory::cell_at(v.w2, i + 1);
            if (item.header == map_t::removed_header) continue;
            Cell key = *memory::cell_at(v.w2, i);
            member(k++, key, item);
        }
        finish(k, '}');
        series::cycle_pop();
    }

    void object(const Cell& v) {
        series::cycle_push(v.w1);
        out.append('{');
        uint32_t n = object_t::field_count(v);
        for (uint32_t i = 0; i < n; ++i) {
            Cell key = *context_t::word_at(v.w1, int32_t(i));
            set_type(key, type_word);
            Cell item = object_t::fields(v)[i];
            member(i, key, item);
        }
        finish(n, '}');
        series::cycle_pop();
    }

    bool ascii_;
    bool pretty_;
    Units indent_;
    int32_t level_ = 0;
};

}  // namespace

Status load_json(Cell* args, uint32_t) {
    collector::CollectionHold hold;  // the reader walks the text's buffer
    Units units = Units::of(args[0]);
    size_t base = std::min<size_t>(args[0].w1, memory::series_length(args[0].w2));
    switch (units.width) {
        case 1: args[0] = read_json<uint8_t>(units, base); break;
        case 2: args[0] = read_json<uint16_t>(units, base); break;
        default: args[0] = read_json<uint32_t>(units, base); break;
    }
    return Status::ok;
}

Status to_json(Cell* args, uint32_t) {
    collector::CollectionHold hold;  // the writer reads the indent's buffer
    series::CycleGuard guard;
    Writer writer(args[1], args[2].w1 != 0);
    writer.value(args[0]);
    args[0] = writer.out.make_string();
    return Status::ok;
}

}  // namespace vyr::library
