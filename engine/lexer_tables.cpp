// The lexer's read-only tables: byte classes, the transition table of the
// automaton, and the per-state and per-class data the scanning loop reads.
// The transition rows are written as "default|classes>target;..." and
// expanded at compile time, so each row reads the way it is designed: the
// state most classes go to, then the classes that go elsewhere.
#include <array>
#include <cstdint>
#include <string_view>

#include "engine/lexer.h"

namespace vyr::lexer {

namespace {

constexpr uint32_t class_word(uint8_t b) {
    if (b == 0) return c_end | flag::nul;
    if (b == '\t' || b == '\r' || b == ' ') return c_blank;
    if (b == '\n') return c_line;
    if (b < 0x20) return c_control;
    if (b >= '1' && b <= '9') return c_digit;
    switch (b) {
        case '0': return c_zero;
        case '[': return c_block_open;
        case ']': return c_block_close;
        case '(': return c_paren_open;
        case ')': return c_paren_close;
        case '{': return c_brace_open;
        case '}': return c_brace_close;
        case '"': return c_quote;
        case '#': return c_hash | flag::hash;
        case '\'': return c_apostrophe | flag::apostrophe;
        case ':': return c_colon | flag::colon;
        case 'x': case 'X': return c_x;
        case 'T': return c_t;
        case 'h': return c_h;
        case 'e': return c_e | flag::exponent;
        case 'E': return c_e_upper | flag::exponent;
        case 'a': case 'b': case 'c': case 'd': case 'f': return c_hex_lower;
        case 'A': case 'B': case 'C': case 'D': case 'F': return c_hex_upper;
        case '/': return c_slash;
        case '\\': return c_backslash;
        case '<': return c_less | flag::lesser;
        case '>': return c_greater | flag::greater;
        case '=': return c_equal;
        case '%': return c_percent | flag::percent;
        case ',': return c_comma | flag::comma;
        case ';': return c_semicolon;
        case '@': return c_at;
        case '.': return c_point | flag::point;
        case '$': return c_dollar;
        case '+': return c_plus | flag::sign;
        case '-': return c_minus | flag::sign;
        case '^': return c_caret | flag::caret;
        default: break;
    }
    if (b < 0x7F) return c_letter;  // the other letters and "!" "&" "*" "?" "_" "~" "`" "|"
    if (b < 0xC0) return c_continuation;
    if (b < 0xC2 || b > 0xF7) return c_invalid;
    if (b < 0xF0) return c_letter | flag::lead_2_3;
    return c_letter | flag::lead_4;
}

constexpr std::array<uint32_t, 256> make_byte_classes() {
    std::array<uint32_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) t[b] = class_word(uint8_t(b));
    return t;
}

// One row of the transition table: "default|c,c>target;c>target".
constexpr uint32_t read_number(std::string_view s, size_t& i) {
    uint32_t n = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') n = n * 10 + uint32_t(s[i++] - '0');
    return n;
}

constexpr std::array<uint8_t, class_count> expand_row(std::string_view s) {
    std::array<uint8_t, class_count> row{};
    size_t i = 0;
    uint8_t deflt = uint8_t(read_number(s, i));
    for (auto& e : row) e = deflt;
    ++i;  // "|"
    while (i < s.size()) {
        uint32_t classes[class_count] = {};
        size_t n = 0;
        for (;;) {
            classes[n++] = read_number(s, i);
            if (s[i++] != ',') break;  // ">" follows the last class
        }
        uint8_t target = uint8_t(read_number(s, i));
        for (size_t k = 0; k < n; ++k) row[classes[k]] = target;
        if (i < s.size()) ++i;  // ";"
    }
    return row;
}

constexpr std::string_view rows[state_count] = {
    "52|0,1,35>0;2,3>23;4>68;5>69;6>70;7>71;8>72;9,22,36,38>67;10>2;11>16;12,13>51;18,20>40;21>13;23>43;25>58;26>6;27>78;28>1;29>57;30>49;31>36;32,33>47;39>66",  // 0 -
    "1|1,39>77;38>67",  // 1 -
    "2|1,38,39>67;10>79;34>3",  // 2 string!
    "2|38,39>67",  // 3 string!
    "4|8>72;9>73;34>5;38,39>67",  // 4 string!
    "4|38,39>67",  // 5 string!
    "7|0,1,4,5,6,7,9,28,29,35,39>80;8>10;10>8;13>54;26>9;38>67",  // 6 file!
    "7|0,1,4,5,6,7,8,9,13,28,29,39>85;10,38>67",  // 7 file!
    "8|1,38,39>67;10>85",  // 8 file!
    "7|0,1,4,5,6,7,9,10,22,28,35,39>80;8>10;26>9;38>67",  // 9 file!
    "10|9>11;38,39>67",  // 10 string!
    "10|9>11;26>12;38,39>67",  // 11 string!
    "67|0,1,4,5,6,7,8,10,23,28,35,39>100;26>12",  // 12 string!
    "14|0,1,4,5,6,7,8,9,10,11,28,29,35,39>80;13>53;21>15;27,38>67",  // 13 word!
    "14|0,1,4,5,6,7,8,9,10,21,28,29,35,39>83;13,27,38>67",  // 14 refinement!
    "52|0,1,4,5,6,7,8,9,10,11,28,29,35,39>80;21>15;26,27,31,38>67",  // 15 word!
    "22|0,1,5,7,9,13,23,24,27,38>67;4>74;6>21;8>17;10>19;28,29,35,39>81",  // 16 issue!
    "67|0,1,2,3,14,15,16,17,18,19,20,21,25,32,37>17;9>86;28>18",  // 17 binary!
    "18|1>17;38,39>67",  // 18 -
    "19|10>84;34>20;38,39>67",  // 19 char!
    "19|38,39>67",  // 20 char!
    "21|7>76;38,39>67",  // 21 -
    "22|0,1,4,5,6,7,8,9,10,28,29,35,39>81;13,21,38>67",  // 22 issue!
    "82|2,3,12>23;11>16;13>31;14>33;15,21,33>30;16>42;17>26;18>27;19,22,24,25,31,32,34,36,37,38>67;20>39;26>87;29>56;30>24",  // 23 integer!
    "67|0,1,4,5,6,7,8,9,10,21,23,27,28,35,39>88;2,3,12>25;11>28;14>33;17,18>26;26>87",  // 24 float!
    "88|2,3,12>25;11,15,16,19,20,22,24,25,31,32,33,34,36,37,38>67;14>33;17,18>26;26>87;29>56;30>29",  // 25 float!
    "67|0,1,4,5,6,7,8,9,10,13,21,23,27,28,35,39>88;2,3,32,33>26;29>56",  // 26 float!
    "88|2,3>27;11,12,14,15,17,19,22,24,25,28,31,34,36,37,38>67;16>42;18,20>40;26>87;29>56;30>29;32,33>26",  // 27 float!
    "89|2>88;11,12,13,26,29,31,34,38>67;14,15,16,17,18,19,20,24,25,30,32,33,36,37>28",  // 28 float!
    "67|0,1,4,5,6,7,8,9,10,13,21,23,28,35,39>90;2,3,30>29",  // 29 tuple!
    "30|0,1,4,5,6,7,8,9,10,23,28,31,35,39>91;26,27,29,34,36,38>67",  // 30 date!
    "67|2,3>32",  // 31 time!
    "67|0,1,4,5,6,7,8,9,10,21,23,28,35,39>94;2,3,13,30>32",  // 32 time!
    "67|2,3,32,33>34;29>56",  // 33 pair!
    "67|0,1,4,5,6,7,8,9,10,13,21,23,28,35,39>92;2,3,17,18,30>34;29>56",  // 34 pair!
    "67|0,2,3,5,11,17,18,19,20,27,30,32,33,37>35;7>93",  // 35 point2D!
    "67|2,3>37",  // 36 money!
    "67|0,1,4,5,6,7,8,9,10,11,13,21,23,28,35,39>95;2,3,12>37;27,30>38",  // 37 money!
    "67|0,1,4,5,6,7,8,9,10,11,13,21,23,28,35,39>95;2,3,12>38",  // 38 money!
    "67|2,3,18,20>39;16>41;29>56",  // 39 -
    "80|2,3,18,20>40;12,14,15,17,19,23,24,25,30,32,33,34,36,37>52;13>53;16>41;21>75;26,27,38>67;29>56;31>37",  // 40 integer!
    "52|0,1,4,5,6,7,8,9,10,22,28,35,39>99;11,26,27,38>67;13>53;21>75;29>56;31>37",  // 41 word!
    "67|0,1,4,5,6,7,8,9,10,22,23,28,35,39>99;21>75;29>56;31>37",  // 42 integer!
    "44|0,1,4,5,6,7,8,9,10,28,35,39>80;12>46;13>53;23>43;24,25,33>52;38>67",  // 43 tag!
    "44|10>45;12>46;24>96;38,39>67",  // 44 tag!
    "45|10>44;38,39>67",  // 45 tag!
    "46|12>44;38,39>67",  // 46 tag!
    "52|0,1,4,5,6,7,8,9,10,11,22,28,35,39>80;2,3>23;12,26,34,38>67;21>75;30>49;31>37",  // 47 word!
    "52|0,1,4,5,6,7,8,9,10,11,22,28,35,39>80;12,26,31,34,38>67;21>75",  // 48 word!
    "52|0,1,4,5,6,7,8,9,10,11,22,28,35,39>80;2,3,32,33>50;13>53;21>75;26,27,31,38>67;29>56",  // 49 word!
    "67|0,1,4,5,6,7,8,9,10,13,21,23,35,39>88;2,3,17,18,32,33>50;14>33;26>87;29>56",  // 50 float!
    "67|14,15,16,17,18,19,20,24,30,34,36,37>52;21>13;23>43;25>58;26>54;32,33>48",  // 51 word!
    "52|0,1,4,5,6,7,8,9,10,11,22,23,28,35,39>80;13>53;21>75;26,27,38>67;29>56;31>36",  // 52 word!
    "55|0,1,4,5,6,7,8,9,10,22,28,35,39>80;23,38>67",  // 53 set-word!
    "67|0,1,4,5,6,7,8,9,22,28,35,39>80;26>54",  // 54 word!
    "55|0,1,4,5,6,7,8,9,10,22,23,28,35,39>97;24,34,38>67",  // 55 url!
    "98|2,3,14,15,16,17,18,19,20,26,30,32,33,36,37>56;11,12,13,24,25,27,29,31,34,38>67",  // 56 email!
    "57|0,1,4,5,6,7,8,9,10,23,28,35,39>101;11,12,22,24,25,27,29,31,34,38>67",  // 57 ref!
    "52|0,1,4,5,6,7,8,9,10,13,22,28,35,39>80;11,26,27,29,31,38>67;21>75",  // 58 word!
    "67|2,3>60;6>70;7>71;10>2;11>63;12,13>61;14,15,16,17,18,19,20,24,25,30,36,37>62;23>43;29>57;31>36;32,33>64",  // 59 path!
    "67|0,1,4,5,6,7,8,9,10,13,21,23,28,35,39>82;2,3,12>60;14>33;17,18>26;26>87;29>56;30>24",  // 60 integer!
    "67|14,15,16,17,18,19,20,23,24,25,30,32,33,36,37>62",  // 61 word!
    "62|0,1,4,5,6,7,8,9,10,13,21,22,28,35,39>80;11,26,27,38>67;29>56;31>36",  // 62 word!
    "22|0,1,5,6,7,8,9,13,21,23,24,25,27,28,29,35,38,39>67;4>21;10>19",  // 63 issue!
    "80|2,3>60;11,12,23,26,27,34,38>67;14,15,16,17,18,19,20,24,25,30,36,37>62;29>56;31>36;32,33>64",  // 64 word!
};

constexpr std::array<std::array<uint8_t, class_count>, state_count> make_transitions() {
    std::array<std::array<uint8_t, class_count>, state_count> t{};
    for (uint32_t s = 0; s < state_count; ++s) t[s] = expand_row(rows[s]);
    return t;
}
constexpr auto transitions = make_transitions();

// Every state must reach a final state on the end of the input.
constexpr bool end_is_final() {
    for (uint32_t s = 0; s < state_count; ++s)
        if (transitions[s][c_end] < first_final) return false;
    return true;
}
static_assert(end_is_final(), "the end of the input must end every token");

constexpr std::array<uint8_t, state_table_size> make_state_types() {
    std::array<uint8_t, state_table_size> t{};
    // Automaton states.
    const std::pair<uint32_t, uint32_t> ranges[] = {
        {2, type_string}, {3, type_string}, {4, type_string}, {5, type_string}, {6, type_file},
        {7, type_file}, {8, type_file}, {9, type_file}, {10, type_string}, {11, type_string},
        {12, type_string}, {13, type_word}, {14, type_refinement}, {15, type_word}, {16, type_issue},
        {17, type_binary}, {19, type_char}, {20, type_char}, {22, type_issue}, {23, type_integer},
        {24, type_float}, {25, type_float}, {26, type_float}, {27, type_float}, {28, type_float},
        {29, type_tuple}, {30, type_date}, {31, type_time}, {32, type_time}, {33, type_pair},
        {34, type_pair}, {35, type_point2d}, {36, type_money}, {37, type_money}, {38, type_money},
        {40, type_integer}, {41, type_word}, {42, type_integer}, {43, type_tag}, {44, type_tag},
        {45, type_tag}, {46, type_tag}, {47, type_word}, {48, type_word}, {49, type_word},
        {50, type_float}, {51, type_word}, {52, type_word}, {53, type_set_word}, {54, type_word},
        {55, type_url}, {56, type_email}, {57, type_ref}, {58, type_word}, {59, type_path},
        {60, type_integer}, {61, type_word}, {62, type_word}, {63, type_issue}, {64, type_word},
    };
    for (auto [s, type] : ranges) t[s] = uint8_t(type);
    // Final states: the datatype of the token kind (0 for structural kinds).
    const std::pair<uint32_t, uint32_t> kinds[] = {
        {kind_invalid, type_error}, {kind_brace_close, type_string}, {kind_string, type_string},
        {kind_word, type_word}, {kind_issue, type_issue}, {kind_integer, type_integer},
        {kind_refinement, type_refinement}, {kind_char, type_char}, {kind_file, type_file},
        {kind_binary, type_binary}, {kind_percent, type_percent}, {kind_float, type_float},
        {kind_float_special, type_float}, {kind_tuple, type_tuple}, {kind_date, type_date},
        {kind_pair, type_pair}, {kind_point, type_point2d}, {kind_time, type_time},
        {kind_money, type_money}, {kind_tag, type_tag}, {kind_url, type_url}, {kind_email, type_email},
        {kind_hex_integer, type_integer}, {kind_raw_string, type_string}, {kind_ref, type_ref},
    };
    for (auto [k, type] : kinds) t[final_state(k)] = uint8_t(type);
    return t;
}

constexpr std::array<uint8_t, class_count> make_path_end() {
    std::array<uint8_t, class_count> t{};
    for (uint8_t c : {c_blank, c_line, c_block_open, c_block_close, c_paren_open, c_paren_close, c_brace_open,
                      c_quote, c_colon, c_less, c_semicolon, c_letter, c_invalid, c_end})
        t[c] = 1;
    return t;
}

constexpr std::array<uint8_t, state_table_size> make_skip() {
    std::array<uint8_t, state_table_size> t{};
    t[start_normal] = 1;
    return t;
}

constexpr std::array<uint8_t, class_count> make_line_increment() {
    std::array<uint8_t, class_count> t{};
    t[c_line] = 1;
    return t;
}

// The Unicode blanks besides the ASCII ones, sorted.
constexpr uint32_t unicode_blanks[] = {0x0085, 0x00A0, 0x1680, 0x180E, 0x2000, 0x2001, 0x2002,
                                       0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009,
                                       0x200A, 0x200B, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

}  // namespace

const std::array<uint32_t, 256> byte_class = make_byte_classes();

const std::array<std::array<uint8_t, class_count>, state_count> transition = transitions;

const std::array<uint8_t, state_table_size> skip_count = make_skip();
const std::array<uint8_t, state_table_size> state_type = make_state_types();
const std::array<uint8_t, class_count> line_increment = make_line_increment();
const std::array<uint8_t, class_count> path_end = make_path_end();

bool unicode_blank(uint32_t cp) {
    if (cp < 0x85 || cp > 0x3000) return false;
    for (uint32_t b : unicode_blanks)
        if (b == cp) return true;
    return false;
}

Token next_token(const uint8_t* p, const uint8_t* end, uint32_t state) {
    const uint8_t* origin = p;
    uint32_t flags = 0, skip = 0, lines = 0, lines_before = 0, previous = state;
    while (p < end) {
        uint32_t word = byte_class[*p];
        uint32_t c = word & class_mask;
        flags |= word & ~class_mask;
        previous = state;
        state = transition[state][c];
        skip += skip_count[state];
        if (state >= first_final) break;
        lines += line_increment[c];
        if (state == start_normal) lines_before += line_increment[c];
        ++p;
    }
    if (state < first_final) {
        previous = state;
        state = transition[state][c_end];
    }
    return Token{state, previous, origin + skip, p, flags, lines, lines_before};
}

}  // namespace vyr::lexer
