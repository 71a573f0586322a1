// String-to-number conversion over 1-, 2- and 4-byte characters (see
// number_text.h). Characters are read one at a time with the unit width, so
// no conversion of the string is needed first.
#include "engine/number_text.h"

#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/text_readers.h"
#include "engine/lexer.h"
#include "runtime/memory.h"

#include <cmath>
#include <limits>
#include <string>

#include "engine/lexer_load.h"
#include "engine/lexer_scan.h"
#include "runtime/float_text.h"
#include "runtime/unicode.h"

namespace vyr::number_text {

namespace {

uint32_t char_at(const void* text, uint32_t i, uint32_t unit) { return unicode::load_unit(text, i, unit); }

bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }
bool is_letter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

int32_t string_to_integer(const void* text, uint32_t count, uint32_t unit, int32_t& error) {
    uint32_t i = 0;
    bool negative = false;
    if (count > 0) {
        uint32_t c = char_at(text, 0, unit);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    int64_t magnitude = 0;
    uint32_t digits = 0;
    for (; i < count; ++i) {
        uint32_t c = char_at(text, i, unit);
        if (c == '\'') continue;
        if (!is_digit(c)) {
            error = error_invalid;
            return 0;
        }
        magnitude = magnitude * 10 + (c - '0');
        ++digits;
        // -2147483648 is the one value whose magnitude exceeds the positive
        // range; it is taken only when no digit follows it.
        if (magnitude > (negative ? 2147483648LL : 2147483647LL)) {
            error = error_overflow;
            return 0;
        }
    }
    if (digits == 0) {
        error = error_invalid;
        return 0;
    }
    return negative ? int32_t(-magnitude) : int32_t(magnitude);
}

double string_to_float(const void* text, uint32_t count, uint32_t unit, int32_t& error) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (count >= lexer::float_text_limit) {
        error = error_invalid;
        return nan;
    }
    char buffer[lexer::float_text_limit] = {};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = char_at(text, i, unit);
        // A wide character must not be cut down to a byte that reads as a digit.
        if (c > 127) {
            error = error_invalid;
            return nan;
        }
        buffer[i] = c == ',' ? '.' : char(c);
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer);
    if (!lexer::float_syntax(bytes, bytes + count)) {
        error = error_invalid;
        return nan;
    }
    std::string digits;
    for (uint32_t i = 0; i < count; ++i)
        if (buffer[i] != '\'') digits.push_back(buffer[i]);
    size_t unconsumed = 0;
    double d = float_text::text_to_float(digits.data(), digits.data() + digits.size(), 0, &unconsumed);
    if (unconsumed != 0) {
        error = error_invalid;
        return nan;
    }
    return d;
}

bool money_text(const void* text, uint32_t count, uint32_t unit, MoneyText& out) {
    uint32_t i = 0;
    int32_t n = 0;
    out.negative = false;
    out.currency = -1;
    auto at = [&](uint32_t k) { return k < count ? char_at(text, k, unit) : 0u; };
    if (count < 1) return false;
    if (at(0) == '+' || at(0) == '-') {
        out.negative = at(0) == '-';
        out.text[n++] = char(at(0));
        ++i;
    }
    if (is_letter(at(i))) {
        if (count - i < 5) return false;
        if (!is_letter(at(i + 1)) || !is_letter(at(i + 2)) || at(i + 3) != '$') return false;
        out.currency = n;
        for (int k = 0; k < 3; ++k) out.text[n++] = char(at(i++));
    }
    if (at(i) == '$') out.text[n++] = char(at(i++));
    // Integral part: leading zeros dropped (the last digit kept), "'" between digits.
    uint32_t int_start = i, int_end = i;
    while (int_end < count && at(int_end) != '.') ++int_end;
    if (int_end == int_start) return false;
    for (uint32_t k = int_start; k < int_end; ++k) {
        uint32_t c = at(k);
        if (c == '\'') {
            if (k == int_start || k + 1 == int_end || at(k + 1) == '\'') return false;
        } else if (!is_digit(c)) {
            return false;
        }
    }
    uint32_t k = int_start;
    while (k + 1 < int_end && (at(k) == '0' || at(k) == '\'')) ++k;
    out.digits = n - 1;
    int digits = 0;
    for (; k < int_end; ++k) {
        digits += at(k) != '\'';
        if (digits > lexer::money_integral_digits) return false;
        out.text[n++] = char(at(k));
    }
    out.point = -1;
    if (int_end < count) {  // the fraction: digits only, at least one
        out.point = n;
        out.text[n++] = '.';
        uint32_t f = int_end + 1;
        if (f == count) return false;
        for (; f < count; ++f) {
            uint32_t c = at(f);
            if (!is_digit(c)) return false;
            if (n - out.point <= lexer::money_fraction_digits) out.text[n++] = char(c);  // further digits are cut
        }
    }
    out.end = n;
    out.text[n] = 0;
    return true;
}

void string_to_money(const void* text, uint32_t count, uint32_t unit, int32_t& error, Cell* cell) {
    MoneyText m;
    if (!money_text(text, count, unit, m)) {
        error = error_invalid;
        return;
    }
    const auto* t = reinterpret_cast<const uint8_t*>(m.text);
    if (!lexer::make_money(cell, m.negative, m.currency < 0 ? nullptr : t + m.currency, t + m.digits,
                           m.point < 0 ? nullptr : t + m.point, t + m.end))
        error = error_invalid;
}

bool tuple_text(const void* text, uint32_t count, uint32_t unit, TupleBytes& out) {
    uint32_t parts = 0, value = 0, digits = 0;
    for (uint32_t i = 0; i <= count; ++i) {
        uint32_t c = i < count ? char_at(text, i, unit) : '.';
        if (is_digit(c)) {
            value = value * 10 + (c - '0');
            if (value > 255) return false;
            ++digits;
        } else if (c == '.') {
            if (digits == 0 || parts == lexer::tuple_max_parts) return false;
            out.bytes[parts++] = uint8_t(value);
            value = digits = 0;
        } else {
            return false;
        }
    }
    out.count = parts;
    return parts >= 3;  // a tuple holds 3 to 12 bytes
}

void string_to_tuple(const void* text, uint32_t count, uint32_t unit, int32_t& error, Cell* cell) {
    TupleBytes t;
    if (!tuple_text(text, count, unit, t)) {
        error = error_invalid;
        return;
    }
    lexer::make_tuple(cell, t.bytes, t.count);
}

char* ascii_upcase(char* text) {
    for (char* p = text; *p; ++p)
        if (uint8_t(*p) > 96) *p = char(uint8_t(*p) - 32);
    return text;
}

}  // namespace vyr::number_text

namespace vyr::number_text {

namespace {

Cell scan_single_value_text(const Cell& string, Cell* destination) {
    Cell text = string;
    uint32_t length = string_t::length_at(text);
    uint32_t consumed = 0;
    lexer::lexer_scan_string(destination, text, -1, lexer::Request{}, &consumed);
    if (consumed < length) return none_t::value;
    if (memory::series_length(destination->w2) <= destination->w1) return Cell{type_unset, 0, 0, 0};
    return *memory::cell_at(destination->w2, destination->w1);
}

}  // namespace

}  // namespace vyr::number_text

namespace vyr::text_readers {

Readers readers = {number_text::string_to_integer, number_text::string_to_float, number_text::string_to_money,
                   number_text::scan_single_value_text};

}  // namespace vyr::text_readers
