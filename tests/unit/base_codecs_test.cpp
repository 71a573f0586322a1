// The base-2, base-16, base-58 and base-64 codecs of binary!: known texts,
// what each decoder skips and refuses, round trips, and texts of wider
// character units.
#include "runtime/base_codecs.h"

#include <string>
#include <vector>

#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "tests/unit/fixture.h"

using namespace vyr;
using namespace vyr::binary_t;

namespace {

class BaseCodecsTest : public test::RuntimeTest {};

std::string encode(int32_t base, const std::vector<uint8_t>& bytes) {
    std::string out(encoded_room(base, uint32_t(bytes.size())), '\0');
    char* end = encode_base(base, out.data(), bytes.data(), uint32_t(bytes.size()));
    EXPECT_LE(size_t(end - out.data()), out.size());
    out.resize(size_t(end - out.data()));
    return out;
}

// The decoded bytes as upper-case hex, or "none" for an invalid text. The
// text's characters are stored `width` bytes each.
std::string decode(int32_t base, const std::u32string& text, unsigned width = 1) {
    std::vector<uint8_t> units(text.size() * width + 1);
    for (size_t i = 0; i < text.size(); ++i) unicode::store_unit(units.data(), i, width, text[i]);
    NodeId node = decode_base(base, units.data(), uint32_t(text.size()), width);
    if (node == no_node) return "none";
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::vector<uint8_t> bytes(b->head_ptr(), b->tail_ptr());
    return encode(16, bytes);
}

std::u32string u32(const std::string& s) { return std::u32string(s.begin(), s.end()); }

}  // namespace

TEST_F(BaseCodecsTest, EncodersWriteTheKnownTexts) {
    struct Case {
        int32_t base;
        std::vector<uint8_t> bytes;
        const char* text;
    } cases[] = {
        {64, {}, ""},
        {64, {0x4D}, "TQ=="},
        {64, {0x4D, 0x61}, "TWE="},
        {64, {0x4D, 0x61, 0x6E}, "TWFu"},
        {64, {0xFB, 0xFF}, "+/8="},
        {2, {0x0F}, "00001111"},
        {2, {0x80, 0x01}, "1000000000000001"},
        {16, {0x0A, 0xFF}, "0AFF"},
        {58, {}, ""},
        {58, {0x00}, "1"},
        {58, {0x01}, "2"},
        {58, {0x00, 0x00}, "11"},
        {58, {0x00, 0x00, 0x01}, "112"},
        {58, {0x39}, "z"},
        {58, {0x3A}, "21"},
        {58, {'h', 'e', 'l', 'l', 'o'}, "Cn8eVZg"},
    };
    for (const auto& c : cases) EXPECT_EQ(encode(c.base, c.bytes), c.text) << c.base << " " << c.text;
}

TEST_F(BaseCodecsTest, DecodersSkipBlanksAndCommentsAndRefuseOtherText) {
    struct Case {
        int32_t base;
        const char* text;
        const char* hex;  // "none": invalid
    } cases[] = {
        {64, "TWFu", "4D616E"},
        {64, "T W\nF'u", "4D616E"},
        {64, "TW ; four digits\nFu", "4D616E"},
        {64, "T", ""},
        {64, "T===", "none"},
        {64, "TQ==whatever!", "4D"},
        {64, "TWE=", "4D61"},
        {64, "TWFuTQ", "4D616E"},  // digits left over without "=" are dropped
        {64, "TW-u", "none"},
        {64, "", ""},
        {2, "0000 1111", "0F"},
        {2, "0000111", "none"},
        {2, "00001112", "none"},
        {2, "00000001 ; bits\n11111111", "01FF"},
        {16, "0a ; a comment\nFF", "0AFF"},
        {16, "ABC", "AB"},
        {16, "XY", "none"},
        {16, "", ""},
        {16, "a b\tc\rd", "ABCD"},
        {58, "112", "000001"},
        {58, "1", "00"},
        {58, "Cn8eVZg", "68656C6C6F"},
        {58, "Cn8e VZg", "68656C6C6F"},
        {58, "0", "none"},
        {58, "O", "none"},
        {58, "I", "none"},
        {58, "l", "none"},
        {58, "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(c.base, u32(c.text)), c.hex) << c.base << " \"" << c.text << "\"";
}

TEST_F(BaseCodecsTest, CharactersAboveAsciiMakeTheTextInvalid) {
    // Neither read by their low 7 bits (0xC1 would pass for "A") nor taken
    // as the end of the text.
    EXPECT_EQ(decode(58, U"2\u00E92", 2), "none");
    EXPECT_EQ(decode(64, U"TWFu\u00E9", 2), "none");
    EXPECT_EQ(decode(16, U"\u00C1\u00C2", 2), "none");
    EXPECT_EQ(decode(16, U"0\u0130", 2), "none");
    EXPECT_EQ(decode(2, U"\U0001F600", 4), "none");
    EXPECT_EQ(decode(64, U"TWFu", 4), "4D616E");
    EXPECT_EQ(decode(16, U"0A FF", 4), "0AFF");
}

TEST_F(BaseCodecsTest, EveryBaseRoundTrips) {
    uint32_t state = 12345;
    for (int32_t base : {2, 16, 58, 64}) {
        for (uint32_t n : {0u, 1u, 2u, 3u, 4u, 5u, 31u, 100u}) {
            std::vector<uint8_t> bytes(n);
            for (auto& b : bytes) b = uint8_t((state = state * 1103515245 + 12345) >> 16);
            if (n > 2) bytes[0] = bytes[1] = 0;  // leading zero bytes, which base 58 keeps apart
            std::string text = encode(base, bytes);
            EXPECT_EQ(decode(base, u32(text)), encode(16, bytes)) << base << " " << text;
        }
    }
}
