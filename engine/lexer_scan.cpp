// The lexer's decoders: pure functions from the bytes of one token to plain
// results (see lexer_scan.h). Nothing here reads outside [start, end).
#include "engine/lexer_scan.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "engine/lexer.h"
#include "runtime/cell.h"
#include "runtime/float_text.h"
#include "runtime/unicode.h"

namespace vyr::lexer {

namespace {

bool is_digit(uint8_t b) { return b >= '0' && b <= '9'; }

int hex_value(uint8_t b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    return -1;
}

uint8_t ascii_lower(uint8_t b) { return b >= 'A' && b <= 'Z' ? uint8_t(b + 32) : b; }

// Whether the n bytes at p equal the lower-case ASCII text, letters in any case.
bool equal_nocase(const uint8_t* p, const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (ascii_lower(p[i]) != ascii_lower(uint8_t(text[i]))) return false;
    return true;
}

// The text without its "'" separators, for the float converter.
std::string without_apostrophes(const uint8_t* start, const uint8_t* end) {
    std::string s;
    s.reserve(size_t(end - start));
    for (const uint8_t* p = start; p < end; ++p)
        if (*p != '\'') s.push_back(char(*p));
    return s;
}

// text_to_float over the whole text; false when characters are left over.
bool convert_float(const char* start, const char* end, int exponent, double& out) {
    size_t unconsumed = 0;
    out = float_text::text_to_float(start, end, exponent, &unconsumed);
    return unconsumed == 0;
}

bool convert_float(const uint8_t* start, const uint8_t* end, uint32_t flags, int exponent, double& out) {
    if (flags & flag::apostrophe) {
        std::string s = without_apostrophes(start, end);
        return convert_float(s.data(), s.data() + s.size(), exponent, out);
    }
    return convert_float(reinterpret_cast<const char*>(start), reinterpret_cast<const char*>(end), exponent, out);
}

// A double narrowed to 32 bits, infinities for magnitudes beyond the range
// (a plain conversion is undefined there).
float narrow_float(double d) {
    if (std::isnan(d)) return std::numeric_limits<float>::quiet_NaN();
    if (d > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (d < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return float(d);
}

bool has_byte(const uint8_t* start, const uint8_t* end, uint8_t b) {
    return std::memchr(start, b, size_t(end - start)) != nullptr;
}

}  // namespace

// ---- Shared decoders ----------------------------------------------------------

int32_t escape_decode(const uint8_t*& p, const uint8_t* end) {
    if (p >= end) return -1;
    uint8_t c = *p;
    if (c != '(') {
        ++p;
        switch (c) {
            case '@': return 0;
            case '/': return 10;
            case '-': return 9;
            case '"': return 34;
            case '{': return 123;
            case '}': return 125;
            case '^': return 94;
            case '~': return 127;
            default: break;
        }
        if (c >= 'a' && c <= 'z') return c - 96;
        if (c >= 'A' && c <= '_') return c - 64;
        return c;
    }
    const uint8_t* q = p + 1;
    // One or two hex digits.
    if (q < end && hex_value(q[0]) >= 0) {
        if (q + 1 < end && q[1] == ')') {
            p = q + 2;
            return hex_value(q[0]);
        }
        if (q + 2 < end && hex_value(q[1]) >= 0 && q[2] == ')') {
            p = q + 3;
            return hex_value(q[0]) * 16 + hex_value(q[1]);
        }
    }
    // A name.
    static constexpr struct {
        const char* name;
        int32_t value;
    } names[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127}};
    for (const auto& n : names) {
        size_t len = std::strlen(n.name);
        if (size_t(end - q) > len && equal_nocase(q, n.name, len) && q[len] == ')') {
            p = q + len + 1;
            return n.value;
        }
    }
    // Up to six hex digits.
    int32_t value = 0;
    int digits = 0;
    while (q < end && digits < 6 && hex_value(*q) >= 0) {
        value = value * 16 + hex_value(*q++);
        ++digits;
    }
    if (digits == 0 || q >= end || *q != ')' || value > int32_t(unicode::max_code_point)) return -1;
    p = q + 1;
    return value;
}

int32_t hex_pair_decode(const uint8_t* p, const uint8_t* end) {
    if (end - p < 2) return -1;
    int hi = hex_value(p[0]), lo = hex_value(p[1]);
    if (hi < 0 || lo < 0) return -1;
    return hi * 16 + lo;
}

const uint8_t* fixed_digits(const uint8_t* p, const uint8_t* end, int exact, int max, int32_t& value,
                            int32_t& error) {
    if (p >= end) {
        error = -2;
        return p;
    }
    int32_t v = 0;
    int n = 0;
    while (p < end && n < max && is_digit(*p)) {
        v = v * 10 + (*p++ - '0');
        ++n;
    }
    if (n == 0 || (exact > 0 && n != exact)) error = -1;
    value = v;
    return p;
}

const uint8_t* separated_integer(const uint8_t* p, const uint8_t* end, int32_t& value, int32_t& error) {
    const uint8_t* start = p;
    bool negative = p < end && *p == '-';
    if (negative) ++p;
    int64_t magnitude = 0;
    bool overflow = false;
    for (; p < end; ++p) {
        if (*p == '\'') continue;
        if (!is_digit(*p)) break;
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > 2147483648LL) {
            overflow = true;
            magnitude = 2147483648LL;
        }
    }
    if (!overflow && magnitude <= INT32_MAX) {
        value = int32_t(negative ? -magnitude : magnitude);
    } else if (!overflow && negative && p - start == 11 && std::memcmp(start, "-2147483648", 11) == 0) {
        value = INT32_MIN;
    } else {
        error = -5;
    }
    return p;
}

const uint8_t* float_prefix(const uint8_t* p, const uint8_t* end, double& value, int32_t& error) {
    const uint8_t* q = p;
    while (q < end && (is_digit(*q) || *q == '.')) ++q;
    if (q == p) {
        error = -1;
        return p;
    }
    value = float_text::text_to_float(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(q));
    return q;
}

bool float_syntax(const uint8_t* start, const uint8_t* end) {
    if (size_t(end - start) >= float_text_limit) return false;
    enum { sign, digit, exponent, point, apostrophe, other };
    enum : uint8_t { accept = 9, reject = 10 };
    // Rows: states 0-8; columns: the classes above.
    static constexpr uint8_t next[9][6] = {
        {0, 1, reject, 4, reject, reject},       // 0 start
        {reject, 1, 6, 5, 2, reject},            // 1 integer digits
        {reject, 1, reject, reject, reject, reject},  // 2 after "'" in the integer part
        {reject, 3, 6, reject, 4, reject},       // 3 fraction digits
        {reject, 3, reject, reject, reject, reject},  // 4 after a leading "." or a "'" in the fraction
        {reject, 3, reject, reject, reject, reject},  // 5 after "digits."
        {7, 8, reject, reject, reject, reject},  // 6 after the exponent letter
        {reject, 8, reject, reject, reject, reject},  // 7 after the exponent sign
        {reject, 8, reject, reject, reject, reject},  // 8 exponent digits
    };
    static constexpr bool ends[9] = {false, true, true, true, true, true, false, false, true};
    uint8_t state = 0;
    for (const uint8_t* p = start; p < end; ++p) {
        uint8_t b = *p;
        int c = is_digit(b) ? digit
                : (b == '+' || b == '-') ? sign
                : (b == 'e' || b == 'E') ? exponent
                : b == '.' ? point
                : b == '\'' ? apostrophe
                            : other;
        state = next[state][c];
        if (state == reject) return false;
    }
    return ends[state];
}

bool point_literal_ahead(const uint8_t* start, const uint8_t* end) {
    if (end - start < 4) return false;
    for (const uint8_t* p = start; p < end; ++p) {
        uint8_t b = *p;
        bool number_byte = is_digit(b) || std::strchr("+-.eE#INFAinfa\t ", b) != nullptr;
        if (b == 0 || !number_byte) return b == ',';
    }
    return true;
}

const uint8_t* unicode_blank_skip(const uint8_t* start, const uint8_t* end) {
    const uint8_t* p = start;
    while (p < end && *p >= 0x80) {
        int32_t cp;
        const uint8_t* next = unicode::utf8_decode_step(p, end, cp);
        if (cp < 0 || !unicode_blank(uint32_t(cp))) break;
        p = next;
    }
    return p;
}

const uint8_t* unicode_blank_cut(const uint8_t* start, const uint8_t* end) {
    for (const uint8_t* p = start; p < end;) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        int32_t cp;
        const uint8_t* next = unicode::utf8_decode_step(p, end, cp);
        if (cp >= 0 && unicode_blank(uint32_t(cp))) return p;
        p = next;
    }
    return end;
}

// ---- Numbers --------------------------------------------------------------------

int32_t scan_integer(const uint8_t* start, const uint8_t* end, uint32_t flags, IntegerValue& out) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end) return type_integer;  // a lone sign
    int digits = 0;
    int64_t magnitude = 0;
    for (const uint8_t* q = p; q < end; ++q) {
        if (*q == '\'') {
            if (q + 1 < end && q[1] == '\'') return type_integer;
            continue;
        }
        if (!is_digit(*q)) return type_integer;
        if (++digits <= 10) magnitude = magnitude * 10 + (*q - '0');
    }
    if (digits == 0) return type_integer;
    bool fits = digits <= 10 && magnitude <= INT32_MAX;
    if (fits) {
        out = IntegerValue{false, int32_t(negative ? -magnitude : magnitude), 0.0};
        return code_ok;
    }
    if (digits == 10 && negative && magnitude == 2147483648LL && end - start == 11) {
        out = IntegerValue{false, INT32_MIN, 0.0};
        return code_ok;
    }
    double d;
    if (!convert_float(start, end, flags | flag::apostrophe, 0, d)) return type_integer;
    out = IntegerValue{true, 0, d};
    return code_ok;
}

int32_t scan_float(const uint8_t* start, const uint8_t* end, uint32_t flags, double& out) {
    if (!float_syntax(start, end)) return type_float;
    if (!convert_float(start, end, flags, 0, out)) return type_float;
    return code_ok;
}

int32_t scan_float_special(const uint8_t* start, const uint8_t* end, double& out) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || std::memcmp(p, "1.#", 3) != 0) return type_float;
    if (equal_nocase(p + 3, "nan", 3)) {
        out = std::numeric_limits<double>::quiet_NaN();
    } else if (equal_nocase(p + 3, "inf", 3)) {
        out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    } else {
        return type_float;
    }
    return code_ok;
}

int32_t scan_percent(const uint8_t* start, const uint8_t* end, uint32_t flags, double& out) {
    if (!float_syntax(start, end)) return type_float;
    if (!convert_float(start, end, flags, -2, out)) return type_float;
    return code_ok;
}

int32_t scan_hex_integer(const uint8_t* start, const uint8_t* end, int32_t& out) {
    if (end > start && end[-1] == 'h') --end;
    ptrdiff_t n = end - start;
    if (n <= 1 && (n == 0 || !is_digit(*start))) return type_word;
    if (n < 2 || n > 8) return type_integer;
    uint32_t value = 0;
    for (const uint8_t* p = start; p < end; ++p) {
        int v = hex_value(*p);
        if (v < 0) return type_integer;  // a sign, a "'" or another byte
        value = value * 16 + uint32_t(v);
    }
    out = int32_t(value);
    return code_ok;
}

int32_t scan_tuple(const uint8_t* start, const uint8_t* end, uint8_t (&parts)[tuple_max_parts], uint32_t& count) {
    uint32_t n = 0;
    const uint8_t* p = start;
    for (;;) {
        if (n == tuple_max_parts) return type_tuple;
        uint32_t value = 0;
        const uint8_t* q = p;
        while (q < end && is_digit(*q) && value <= 255) value = value * 10 + uint32_t(*q++ - '0');
        if (q == p || value > 255) return type_tuple;
        parts[n++] = uint8_t(value);
        if (q == end) break;
        if (*q != '.') return type_tuple;
        p = q + 1;
    }
    if (n < 3) return type_tuple;
    count = n;
    return code_ok;
}

int32_t scan_pair(const uint8_t* start, const uint8_t* end, int32_t& x, int32_t& y) {
    if (has_byte(start, end, '.')) return type_pair;
    const uint8_t* sep = start;
    while (sep < end && *sep != 'x' && *sep != 'X') ++sep;
    if (sep == start || sep == end) return type_pair;
    uint32_t flags = has_byte(start, end, '\'') ? flag::apostrophe : 0;
    IntegerValue a, b;
    if (scan_integer(start, sep, flags, a) != code_ok || a.is_float) return type_pair;
    if (scan_integer(sep + 1, end, flags, b) != code_ok || b.is_float) return type_pair;
    x = a.integer;
    y = b.integer;
    return code_ok;
}

int32_t scan_point(const uint8_t* start, const uint8_t* end, PointValue& out) {
    auto blank = [](uint8_t b) { return b == ' ' || b == '\t'; };
    const uint8_t* p = start;
    for (uint32_t i = 0; i < 3; ++i) {
        while (p < end && blank(*p)) ++p;
        const uint8_t* n = p;
        while (p < end && !blank(*p) && *p != ',') ++p;
        const uint8_t* n_end = p;
        while (p < end && blank(*p)) ++p;
        if (n == n_end) return type_point2d;
        double d;
        if (has_byte(n, n_end, '#')) {
            if (scan_float_special(n, n_end, d) != code_ok) return type_point2d;
        } else {
            if (size_t(n_end - n) >= float_text_limit) return type_float;
            if (!float_syntax(n, n_end) || !convert_float(n, n_end, flag::apostrophe, 0, d)) return type_point2d;
        }
        out.v[i] = narrow_float(d);
        if (p == end) {
            if (i == 0) return type_point2d;
            out.count = i + 1;
            return code_ok;
        }
        if (*p != ',') return i == 2 ? type_point3d : type_point2d;
        if (i == 2) return type_point3d;
        ++p;
    }
    return type_point2d;
}

int32_t scan_time(const uint8_t* start, const uint8_t* end, double& seconds) {
    const uint8_t* p = start;
    bool negative = p < end && *p == '-';
    if (p < end && *p == '+') ++p;
    int32_t hours = 0, minutes = 0, error = 0;
    p = separated_integer(p, end, hours, error);
    if (error || p >= end || *p != ':') return type_time;
    const uint8_t* after_colon = ++p;
    if (p >= end) return type_time;
    bool minus = *p == '-';
    p = separated_integer(p, end, minutes, error);
    if (error || minus) return type_time;
    for (const uint8_t* q = start; q < end; ++q)
        if (*q == 'e' || *q == 'E') return type_time;
    double secs = 0;
    if (p < end) {
        const uint8_t* s;
        if (*p == '.' || *p == ',') {  // minutes:seconds.fraction
            minutes = hours;
            hours = 0;
            s = after_colon;
        } else if (*p == ':') {
            s = p + 1;
        } else {
            return type_time;
        }
        if (s >= end) return type_time;
        std::string text(reinterpret_cast<const char*>(s), size_t(end - s));
        for (char& c : text)
            if (c == ',') c = '.';
        if (!float_syntax(reinterpret_cast<const uint8_t*>(text.data()),
                          reinterpret_cast<const uint8_t*>(text.data() + text.size())) ||
            text.find('\'') != std::string::npos)
            return type_time;
        if (!convert_float(text.data(), text.data() + text.size(), 0, secs) || secs < 0 || std::signbit(secs))
            return type_time;
    }
    // The sign belongs to the whole time: -1:30 is an hour and a half before zero.
    double whole = secs + double(minutes < 0 ? -int64_t(minutes) : minutes) * 60.0 +
                   double(hours < 0 ? -int64_t(hours) : hours) * 3600.0;
    seconds = (negative || hours < 0) ? -whole : whole;
    return code_ok;
}

int32_t scan_money(const uint8_t* start, const uint8_t* end, MoneyParts& out) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    const uint8_t* dollar = p;
    while (dollar < end && *dollar != '$') ++dollar;
    if (dollar == end) return type_money;
    ptrdiff_t code = dollar - p;
    if (code != 0 && code != 3) return type_money;
    const uint8_t* q = dollar + 1;
    if (q >= end || !is_digit(*q)) return type_money;
    const uint8_t* int_end = q;
    while (int_end < end && *int_end != '.' && *int_end != ',') ++int_end;
    for (const uint8_t* r = q; r < int_end; ++r) {
        if (*r == '\'') {
            if (r + 1 < int_end && r[1] == '\'') return type_money;
        } else if (!is_digit(*r)) {
            return type_money;
        }
    }
    if (int_end[-1] == '\'') return type_money;
    while (q < int_end - 1 && (*q == '0' || *q == '\'')) ++q;
    int digits = 0;
    for (const uint8_t* r = q; r < int_end; ++r) digits += *r != '\'';
    if (digits > money_integral_digits) return type_money;
    const uint8_t* point = nullptr;
    if (int_end < end) {
        point = int_end;
        const uint8_t* f = point + 1;
        if (f >= end || end - f > money_fraction_digits) return type_money;
        for (const uint8_t* r = f; r < end; ++r)
            if (!is_digit(*r)) return type_money;
    }
    out = MoneyParts{negative, code ? p : nullptr, q - 1, point, end};
    return code_ok;
}

// ---- Dates ----------------------------------------------------------------------

bool leap_year(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t day_number(int32_t year, int32_t month, int32_t day) {
    int32_t m = (month + 9) % 12;
    int32_t y = year - m / 10;
    return 365 * y + y / 4 - y / 100 + y / 400 + (306 * m + 5) / 10 + (day - 1);
}

void date_of_day_number(int32_t g, int32_t& year, int32_t& month, int32_t& day) {
    int64_t y = int64_t((10000.0 * g + 14780.0) / 3652425.0);
    auto year_days = [](int64_t y) { return 365 * y + y / 4 - y / 100 + y / 400; };
    int64_t ddd = g - year_days(y);
    if (ddd < 0) {
        --y;
        ddd = g - year_days(y);
    }
    int64_t mi = (100 * ddd + 52) / 3060;
    month = int32_t((mi + 2) % 12 + 1);
    year = int32_t(y + (mi + 2) / 12);
    day = int32_t(ddd - (306 * mi + 5) / 10 + 1);
}

namespace {

int32_t floor_mod7(int32_t v) { return ((v % 7) + 7) % 7; }

// 1 for Monday .. 7 for Sunday.
int32_t weekday_of(int32_t days) { return floor_mod7(days + 2) + 1; }

// Day number of the Monday of ISO week 1 of the year.
int32_t iso_week_1(int32_t year) {
    int32_t j = day_number(year, 1, 1);
    int32_t w = floor_mod7(j + 2);
    return j - w + (w >= 4 ? 7 : 0);
}

int32_t month_length(int32_t year, int32_t month) {
    static constexpr int32_t lengths[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && !leap_year(year)) return 28;
    return lengths[month - 1];
}

// The month named by the letters: 3 to 9 of them, a prefix of an English
// month name in any case; the first match in calendar order.
int32_t month_of_name(const uint8_t* p, const uint8_t* end) {
    static constexpr const char* names[12] = {"january", "february", "march",     "april",   "may",      "june",
                                              "july",    "august",   "september", "october", "november", "december"};
    size_t n = size_t(end - p);
    if (n < 3 || n > 9) return 0;
    for (int32_t m = 0; m < 12; ++m)
        if (std::strlen(names[m]) >= n && equal_nocase(p, names[m], n)) return m + 1;
    return 0;
}

struct TimeParts {
    int32_t hour = 0, minute = 0;
    double second = 0;
    int32_t zone_hours = 0, zone_minutes = 0;
};

// "h:m[:s][Z|+h[:]m|-h[:]m]" up to the end of the token.
bool scan_time_part(const uint8_t* p, const uint8_t* end, TimeParts& t) {
    int32_t error = 0;
    p = fixed_digits(p, end, 0, 2, t.hour, error);
    if (error || p >= end || *p != ':') return false;
    p = fixed_digits(p + 1, end, 0, 2, t.minute, error);
    if (error) return false;
    if (p < end && *p == ':') {
        p = float_prefix(p + 1, end, t.second, error);
        if (error) return false;
    }
    if (p < end && *p == 'Z') {
        ++p;
    } else if (p < end && (*p == '+' || *p == '-')) {
        bool west = *p++ == '-';
        p = fixed_digits(p, end, 0, 2, t.zone_hours, error);
        if (p < end && *p == ':') ++p;
        p = fixed_digits(p, end, 0, 2, t.zone_minutes, error);
        if (error) return false;
        if (west) t.zone_hours = -t.zone_hours;
    }
    return p == end;
}

// "yyyymmddThhmm[ss[.fff]][Z|+hhmm|-hhmm]" after the year.
bool scan_compact_iso(const uint8_t* p, const uint8_t* end, int32_t& month, int32_t& day, TimeParts& t) {
    int32_t error = 0;
    p = fixed_digits(p, end, 2, 2, month, error);
    p = fixed_digits(p, end, 2, 2, day, error);
    if (error || p >= end || *p != 'T') return false;
    p = fixed_digits(p + 1, end, 2, 2, t.hour, error);
    p = fixed_digits(p, end, 2, 2, t.minute, error);
    if (error) return false;
    if (p < end && is_digit(*p)) {
        p = float_prefix(p, end, t.second, error);
        if (error) return false;
    }
    if (p < end && *p == 'Z') {
        ++p;
    } else if (p < end && (*p == '+' || *p == '-')) {
        bool west = *p++ == '-';
        p = fixed_digits(p, end, 2, 2, t.zone_hours, error);
        p = fixed_digits(p, end, 2, 2, t.zone_minutes, error);
        if (error) return false;
        if (west) t.zone_hours = -t.zone_hours;
    }
    return p == end;
}

bool time_in_range(const TimeParts& t) {
    return t.hour < 24 && t.minute < 60 && t.second < 60.0 && t.zone_hours >= -15 && t.zone_hours <= 15 &&
           t.zone_minutes < 60;
}

bool date_in_range(int32_t year, int32_t month, int32_t day) {
    return day >= 1 && month >= 1 && month <= 12 && year >= -9999 && year <= 9999 &&
           day <= month_length(year, month);
}

}  // namespace

int32_t scan_date(const uint8_t* start, const uint8_t* end, DateValue& out) {
    const uint8_t* p = start;
    bool first_negative = p < end && *p == '-';
    if (first_negative) ++p;
    int32_t first = 0, error = 0;
    const uint8_t* digits = p;
    p = fixed_digits(p, end, 0, 4, first, error);
    if (error) return type_date;
    int first_digits = int(p - digits);
    if (first_negative) first = -first;

    int32_t year = first, month = 1, day = 1;
    TimeParts t;
    bool has_time = false;
    bool check_date = true;
    if (p < end && is_digit(*p)) {  // compact ISO form
        if (!scan_compact_iso(p, end, month, day, t)) return type_date;
        has_time = true;
    } else if (end - p >= 2 && p[0] == '-' && p[1] == 'W') {  // yyyy-Www[-d]
        int32_t week = 0, weekday = 0;
        p = fixed_digits(p + 2, end, 2, 2, week, error);
        if (error) return type_date;
        if (p < end && *p == '-') {
            p = fixed_digits(p + 1, end, 1, 1, weekday, error);
            if (error || weekday < 1 || weekday > 7) return type_date;
        }
        int32_t d = day_number(year, 1, 1);
        if (week > 0) d = iso_week_1(year) + 7 * (week - 1);
        if (weekday > 0) d = d - (weekday_of(d) - 1) + (weekday - 1);
        date_of_day_number(d, year, month, day);
        check_date = false;
    } else if (end - p >= 4 && p[0] == '-' && is_digit(p[1]) && is_digit(p[2]) && is_digit(p[3]) &&
               (end - p == 4 || p[4] == 'T')) {  // yyyy-ddd
        int32_t yearday = (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
        if (yearday == 0) return type_date;
        p += 4;
        date_of_day_number(day_number(year, 1, 1) + yearday - 1, year, month, day);
        check_date = false;
    } else {  // d-m-y, d/m/y, y-m-d, y/m/d
        if (p >= end || (*p != '-' && *p != '/')) return type_date;
        uint8_t separator = *p++;
        const uint8_t* m = p;
        if (p < end && is_digit(*p)) {
            p = fixed_digits(p, end, 0, 2, month, error);
        } else {
            while (p < end && *p != separator) ++p;
            month = month_of_name(m, p);
            if (month == 0) return type_date;
        }
        if (error || p >= end || *p != separator) return type_date;
        ++p;
        bool last_negative = p < end && *p == '-';
        if (last_negative) ++p;
        int32_t last = 0;
        digits = p;
        p = fixed_digits(p, end, 0, 4, last, error);
        if (error) return type_date;
        int last_digits = int(p - digits);
        if (last_negative) last = -last;
        int year_digits;
        if (first >= 100 && last >= 0 && last <= 31) {
            year = first, day = last, year_digits = first_digits;
        } else {
            day = first, year = last, year_digits = last_digits;
        }
        if (year >= 0 && year < 100 && year_digits <= 2) year += year < 50 ? 2000 : 1900;
        if (p < end) {
            if (*p != '/' && *p != 'T') return type_date;
            if (!scan_time_part(p + 1, end, t)) return type_date;
            has_time = true;
            p = end;
        }
    }
    if (!check_date && p < end) {  // the time of the week and day-of-year forms
        if (*p != 'T' || !scan_time_part(p + 1, end, t)) return type_date;
        has_time = true;
    }
    if (check_date && !date_in_range(year, month, day)) return type_date;
    if (has_time && !time_in_range(t)) return type_date;
    out = DateValue{year, month, day, t.hour * 3600.0 + t.minute * 60.0 + t.second, t.zone_hours, t.zone_minutes,
                    has_time};
    return code_ok;
}

// ---- Characters and text -----------------------------------------------------------

int32_t scan_char(const uint8_t* start, const uint8_t* end, uint32_t& cp) {
    if (end - start < 3 || start[1] != '"') return type_char;  // nothing between the quotes
    const uint8_t* p = start + 2;
    int32_t value;
    if (*p == '^') {
        ++p;
        value = escape_decode(p, end);
    } else {
        p = unicode::utf8_decode_step(p, end, value);
    }
    if (value < 0 || p != end || value > int32_t(unicode::max_code_point)) return type_char;
    cp = uint32_t(value);
    return code_ok;
}

namespace {

// Steps over one character of text: an escape or one UTF-8 sequence (one
// byte when `raw`). Answers the code point or -1; `hex_digits` receives the
// digit count of a "^(...)" hex escape.
int32_t next_char(const uint8_t*& p, const uint8_t* end, bool escapes, bool raw, int& hex_digits) {
    hex_digits = 0;
    if (escapes && *p == '^') {
        const uint8_t* q = ++p;
        int32_t v = escape_decode(p, end);
        if (v >= 0 && q < end && *q == '(') {
            const uint8_t* h = q + 1;
            while (h < p - 1 && hex_value(*h) >= 0) ++h;
            if (h == p - 1) hex_digits = int(h - (q + 1));
        }
        return v;
    }
    if (raw) return *p++;
    int32_t cp;
    p = unicode::utf8_decode_step(p, end, cp);
    return cp;
}

}  // namespace

bool measure_text(const uint8_t* start, const uint8_t* end, uint32_t flags, bool escapes, TextShape& shape) {
    uint32_t unit = unit_of_flags(flags);
    if (!escapes && unit == 1) {
        shape = TextShape{uint32_t(end - start), 1};
        return true;
    }
    uint32_t count = 0;
    for (const uint8_t* p = start; p < end; ++count) {
        int hex_digits;
        if (next_char(p, end, escapes, false, hex_digits) < 0) return false;
        if (hex_digits > 4) unit = 4;
        else if (hex_digits > 2 && unit < 2) unit = 2;
    }
    shape = TextShape{count, unit};
    return true;
}

void decode_text(const uint8_t* start, const uint8_t* end, bool escapes, const TextShape& shape, void* dst) {
    if (!escapes && shape.unit == 1) {
        std::memcpy(dst, start, size_t(end - start));
        return;
    }
    bool raw = shape.unit == 1;
    uint32_t i = 0;
    for (const uint8_t* p = start; p < end && i < shape.count; ++i) {
        int hex_digits;
        int32_t cp = next_char(p, end, escapes, raw, hex_digits);
        unicode::store_unit(dst, i, shape.unit, cp < 0 ? 0 : uint32_t(cp));
    }
}

// ---- Binary -------------------------------------------------------------------

uint32_t binary_base(const uint8_t* start, const uint8_t* end) {
    if (start < end && *start == '#') return 16;
    uint32_t base = 0;
    const uint8_t* p = start;
    for (; p < end && is_digit(*p) && base < 100; ++p) base = base * 10 + uint32_t(*p - '0');
    if (p >= end || *p != '#') return 0;
    return base == 2 || base == 16 || base == 64 ? base : 0;
}

uint32_t binary_capacity(uint32_t base, const uint8_t* start, const uint8_t* end) {
    uint32_t n = uint32_t(end - start);
    switch (base) {
        case 2: return n / 8 + 1;
        case 16: return n / 2 + 1;
        default: return uint32_t((uint64_t(n) + 3) * 3 / 4);
    }
}

namespace {

// Skips blanks and ";" comments; answers false at the end of the text.
bool skip_blanks(const uint8_t*& p, const uint8_t* end, bool apostrophe) {
    while (p < end) {
        uint8_t b = *p;
        if (b == ' ' || b == '\t' || b == '\n' || b == '\r' || (apostrophe && b == '\'')) {
            ++p;
        } else if (b == ';') {
            while (p < end && *p != '\n') ++p;
        } else {
            return true;
        }
    }
    return false;
}

int base64_value(uint8_t b) {
    if (b >= 'A' && b <= 'Z') return b - 'A';
    if (b >= 'a' && b <= 'z') return b - 'a' + 26;
    if (b >= '0' && b <= '9') return b - '0' + 52;
    if (b == '+') return 62;
    if (b == '/') return 63;
    return -1;
}

}  // namespace

int32_t binary_decode(uint32_t base, const uint8_t* start, const uint8_t* end, uint8_t* out) {
    int32_t n = 0;
    auto emit = [&](uint32_t byte) {
        if (out) out[n] = uint8_t(byte);
        ++n;
    };
    const uint8_t* p = start;
    if (base == 16) {
        int high = -1;
        while (skip_blanks(p, end, false)) {
            int v = hex_value(*p++);
            if (v < 0) return -1;
            if (high < 0) {
                high = v;
            } else {
                emit(uint32_t(high * 16 + v));
                high = -1;
            }
        }
        return high < 0 ? n : -1;
    }
    if (base == 2) {
        uint32_t bits = 0, count = 0;
        while (skip_blanks(p, end, false)) {
            uint8_t b = *p++;
            if (b != '0' && b != '1') return -1;
            bits = bits << 1 | uint32_t(b - '0');
            if (++count == 8) {
                emit(bits);
                bits = count = 0;
            }
        }
        return count == 0 ? n : -1;
    }
    if (base != 64) return -1;
    uint32_t acc = 0, digits = 0;
    while (skip_blanks(p, end, true)) {
        uint8_t b = *p++;
        if (b == '=') {
            if (digits == 3) {
                acc <<= 6;
                emit(acc >> 16);
                emit((acc >> 8) & 0xFF);
            } else if (digits == 2 && skip_blanks(p, end, true) && *p == '=') {
                ++p;
                acc <<= 12;
                emit(acc >> 16);
            } else {
                return -1;
            }
            // Only blanks and comments may follow the padding.
            return skip_blanks(p, end, true) ? -1 : n;
        }
        int v = base64_value(b);
        if (v < 0) return -1;
        acc = acc << 6 | uint32_t(v);
        if (++digits == 4) {
            emit(acc >> 16);
            emit((acc >> 8) & 0xFF);
            emit(acc & 0xFF);
            acc = digits = 0;
        }
    }
    return digits == 0 ? n : -1;
}

// ---- Constructions -------------------------------------------------------------

int32_t scan_construction(const uint8_t* start, const uint8_t* end, const char* (*type_name)(uint32_t),
                          uint32_t highest, Construction& out) {
    size_t n = size_t(end - start);
    // Compared over the text's own length: a prefix of a name matches.
    auto matches = [&](const char* name) { return std::strlen(name) >= n && equal_nocase(start, name, n); };
    static constexpr struct {
        const char* word;
        Construction::Kind kind;
    } keywords[] = {{"true", Construction::logic_true},
                    {"false", Construction::logic_false},
                    {"none", Construction::none},
                    {"unset", Construction::unset}};
    for (const auto& k : keywords) {
        if (!matches(k.word)) continue;
        if (n != std::strlen(k.word)) return code_malconstruct;
        out = Construction{k.kind, 0};
        return code_ok;
    }
    for (uint32_t id = 1; id <= highest; ++id) {
        const char* name = type_name(id);
        if (!name || !matches(name)) continue;
        out = Construction{Construction::datatype, id};
        return code_ok;
    }
    return code_malconstruct;
}

}  // namespace vyr::lexer
