// VYRBIN: the writers' exact bytes for small values, round trips of every
// literal type through both encodings, shared structure, and damaged images
// (always the invalid-record error with its position, never a crash).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "datatypes/date.h"
#include "datatypes/image-backend/bitmap.h"
#include "datatypes/image.h"
#include "io/lz77.h"
#include "io/vyrbin.h"
#include "io/vyrbin_format.h"
#include "tests/unit/entry_fixture.h"

namespace vyr::test {
namespace {

using Bytes = std::vector<uint8_t>;

class VyrbinTest : public EntryTest {
protected:
    // Decodes in codec mode into a new block; answers it.
    static Cell decode(const Bytes& image) {
        Cell target{type_block, 0, memory::alloc_cells(4), 0};
        stack::push_copy(target);
        vyrbin::decode(image, target, vyrbin::Mode::codec);
        return target;
    }
    static std::string round_trip(const Cell& v, bool compact) {
        Cell back = decode(vyrbin::encode(v, compact));
        if (memory::series_length(back.w2) != 1) return "count " + std::to_string(memory::series_length(back.w2));
        return mold(*memory::cell_at(back.w2, 0), true);
    }
    // The error a damaged image raises: "error: script ze-ruzovir-uraziz" and
    // the position, or another error, or "decoded".
    static std::string failure(const Bytes& image) {
        return outcome([&] {
            decode(image);
            return std::string("decoded");
        });
    }
    static int32_t error_position() { return int32_t(errors::last_error().args[0].w2); }

    // A compact image of one record: header, root count 1, records length.
    static Bytes compact(const Bytes& records, const Bytes& table = {}) {
        Bytes b = {'V', 'Y', 'R', 'B', 'I', 'N', 2, uint8_t(table.empty() ? 1 : 5), 1, uint8_t(records.size())};
        b.insert(b.end(), table.begin(), table.end());
        b.insert(b.end(), records.begin(), records.end());
        return b;
    }
};

const char* const invalid = "error: script ze-ruzovir-uraziz";

TEST_F(VyrbinTest, SmallValuesHaveTheirShortestForms) {
    EXPECT_EQ(vyrbin::encode(integer(5), true), (Bytes{'V', 'Y', 'R', 'B', 'I', 'N', 2, 1, 1, 1, 0x85}));
    Bytes b64 = vyrbin::encode(integer(64), true);
    EXPECT_EQ(Bytes(b64.begin() + 10, b64.end()), (Bytes{0x0B, 0x80, 0x01}));
    auto records = [&](const char* text) {
        Bytes b = vyrbin::encode(load(text), true);
        return Bytes(b.begin() + 10, b.end());
    };
    EXPECT_EQ(records("1.0"), (Bytes{0x4C, 0x02}));
    EXPECT_EQ(records("0.5").size(), 9u);
    EXPECT_EQ(records("-0.0").size(), 9u);
    EXPECT_EQ(records("5%"), (Bytes{0x66, 0x0A}));
    EXPECT_EQ(records("1.2.3"), (Bytes{0x27, 1, 2, 3}));
    EXPECT_EQ(records("1.2.3.4"), (Bytes{0x67, 4, 1, 2, 3, 4}));
    // A block holding one sub-block twice: the second time as a path.
    Cell inner = block_of({integer(1)});
    Cell outer = block_of({inner, inner});
    Bytes b = vyrbin::encode(outer, true);
    EXPECT_EQ(Bytes(b.begin() + 10, b.end()), (Bytes{0x05, 0x02, 0x05, 0x01, 0x81, 0xC1, 0x05, 0x02, 0x00, 0x00}));
    // A block at index 2 keeps its index and all its cells.
    Cell at2 = block_of({integer(1), integer(2), integer(3)});
    at2.w1 = 2;
    b = vyrbin::encode(at2, true);
    EXPECT_EQ(Bytes(b.begin() + 10, b.end()), (Bytes{0x45, 0x02, 0x03, 0x81, 0x82, 0x83}));
}

TEST_F(VyrbinTest, EveryLiteralTypeRoundTrips) {
    const char* literals[] = {
        "0", "63", "64", "-1", "2147483647", "-2147483648", "1.0", "0.5", "-0.0", "1e300", "-2147483001.0",
        "5%", "12.5%", "0.001%", "$1.25", "-$3", "1x2", "-5x100000", "1.2.3", "1.2.3.4.5.6.7.8.9.10.11.12",
        "#\"a\"", "#\"^(10FFFF)\"", "12:30", "-0:00:01.5",
        "\"text\"", "\"\"", "\"caf\u00e9\"", "\"\u4e2d\u6587\"", "\"\U0001F600\"", "%file.txt", "http://example.com/a?b",
        "<tag a=1>", "me@example.com", "#{}", "#{00FF10}", "#issue", "word", "set:", ":get", "'lit", "/refine",
        "a/b/c", "a/b:", ":a/b", "[]", "[1 [2 [3]] \"x\" #{01}]", "(1 + 2)", "[a\nb]",
    };
    for (const char* text : literals) {
        Cell v{};
        std::string expected = outcome([&] {
            v = load(text);
            stack::push_copy(v);
            return mold(v, true);
        });
        ASSERT_EQ(expected.rfind("error:", 0), std::string::npos) << text << " " << expected;
        EXPECT_EQ(outcome([&] { return round_trip(v, true); }), expected) << text;
        EXPECT_EQ(outcome([&] { return round_trip(v, false); }), expected) << text;
    }
    // Scalars without literal text.
    Cell cells[] = {Cell{type_none, 0, 0, 0}, Cell{type_logic, 1, 0, 0}, Cell{type_logic, 0, 0, 0},
                    Cell{type_datatype, type_block, 0, 0}, Cell{type_typeset, 0x00FF0000, 0, 0x1},
                    Cell{type_point2d, 0x3F800000, 0x40000000, 0},
                    Cell{type_point3d, 0x3F800000, 0x40000000, 0xC0400000},
                    Cell{type_date, uint32_t(date_t::pack(2000, 1, 1, 0, false)), 0, 0},
                    Cell{type_date, uint32_t(date_t::pack(2024, 2, 29, 0x16, true)), 0, 0x40E2D500}};
    auto cell_text = [](const Cell& c) {
        return ::testing::PrintToString(std::vector<uint32_t>{c.header, c.w1, c.w2, c.w3});
    };
    for (const Cell& v : cells) {
        for (bool compact : {true, false}) {
            Cell back = decode(vyrbin::encode(v, compact));
            ASSERT_EQ(memory::series_length(back.w2), 1u);
            EXPECT_EQ(cell_text(*memory::cell_at(back.w2, 0)), cell_text(v)) << compact;
        }
    }
}

TEST_F(VyrbinTest, SharedAndCyclicBlocksKeepTheirShape) {
    for (bool compact : {true, false}) {
        Cell inner = block_of({integer(7)});
        Cell outer = block_of({inner, inner});
        stack::push_copy(outer);
        Cell back = decode(vyrbin::encode(outer, compact));
        Cell b = *memory::cell_at(back.w2, 0);
        ASSERT_EQ(type_of(b), type_block);
        EXPECT_EQ(memory::cell_at(b.w2, 0)->w2, memory::cell_at(b.w2, 1)->w2) << compact;

        // A block that holds itself.
        Cell self = block_of({integer(1)});
        *series::alloc_tail_cell(self.w2) = self;
        stack::push_copy(self);
        back = decode(vyrbin::encode(self, compact));
        b = *memory::cell_at(back.w2, 0);
        EXPECT_EQ(memory::cell_at(b.w2, 1)->w2, b.w2) << compact;
    }
}

TEST_F(VyrbinTest, RefusedTypesRaiseNoCodec) {
    Cell handle{type_handle, 0, 0, 0};
    EXPECT_EQ(outcome([&] {
                  vyrbin::encode(handle, true);
                  return std::string("encoded");
              }),
              "error: access no-codec");
    // A record of type 31 (triple!) names its type.
    EXPECT_EQ(failure(compact({0x1F})), "error: access no-codec");
}

TEST_F(VyrbinTest, DamagedImagesRaiseTheInvalidRecordError) {
    struct Case {
        Bytes image;
        int32_t position;  // 1-based, from the first magic byte
    };
    const Case cases[] = {
        {compact({0x05, 0x02, 0x81}), 12},          // block of 2 with 1 byte left
        {compact({0xC1, 0xC2}), 12},                // shared prefix before true
        {compact({0xC4, 0x0F, 0x00}), 11},          // set prefix in codec mode
        {compact({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x10}), 12},  // 5-byte LEB128 too big
        {compact({0x0B, 0x80}), 13},                // LEB128 past the records end
        {compact({0x27 | 0x40, 0}), 12},            // tuple of 0 bytes
        {compact({0x27 | 0x40, 13}), 12},           // tuple of 13 bytes
        {compact({0x07, 0x03}), 12},                // string unit 8
        {compact({0xFF, 0x00}), 12},                // path of count 0
        {compact({0xFF, 0x01, 0x05}), 12},          // path to nothing
        {compact({0x0D}), 11},                      // symbol!
        {compact({0x37}), 11},                      // type 55
        {compact({0x00}), 11},                      // type 0
        {compact({0xC5}), 11},                      // unknown header byte
        {compact({0x0F, 0x00}), 12},                // word without a symbol table
        {compact({0x2F, 0x00, 0x00, 0x01, 0x00}), 12},  // date: time bit without bit 6
        {compact({0x2F, 0x00, 0xF0, 0x00, 0x00}), 12},  // date: month 15
        {compact({0x23, 0x0D << 2 | 0, 0x01, 0x00}), 12},  // vector of blocks
        {compact({0x23, 12 << 2 | 1, 0x01, 0x00, 0x00}), 12},  // vector of 2-byte floats
        {compact({0x28, 0x01, 0x81}), 12},          // map with an odd count
        {compact({0x28, 0x02, 0x05, 0x00, 0x81}), 12},  // map key of a block
        {compact({0x15, 0x00, 0x05, 0x00}), 12},    // native index 0
        {compact({0x16, 0x3F, 0x05, 0x00}), 12},    // action index 63
        {compact({0x31, 0, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 12},  // money digit 10
        {compact({0x0A, 0xFF, 0xFF, 0xC4, 0x00}), 12},  // char beyond U+10FFFF
    };
    for (const Case& c : cases) {
        EXPECT_EQ(failure(c.image), invalid) << ::testing::PrintToString(c.image);
        EXPECT_EQ(error_position(), c.position) << ::testing::PrintToString(c.image);
    }
    // Records length beyond the input; symbol tables that do not fit.
    Bytes long_records = compact({0x81});
    long_records[9] = 5;
    EXPECT_EQ(failure(long_records), invalid);
    EXPECT_EQ(failure(compact({0x14, 0x00}, {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 'a', 'b'})), invalid);  // no 0 at end
    EXPECT_EQ(failure(compact({0x14, 0x01}, {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 'a', 0})), invalid);    // slot 1 of 1
    EXPECT_EQ(failure(compact({0x14, 0x00}, {0x01, 0x02, 0x05, 0x00, 0x00, 0x00, 'a', 0})), invalid);    // offset 5 of 2
    EXPECT_EQ(failure(compact({0x14, 0x00}, {0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x9E, 0xFF, 0})), invalid);  // not UTF-8
    EXPECT_EQ(failure(compact({0x14, 0x00}, {0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 'a', 0})), invalid);    // 9 offsets
}

TEST_F(VyrbinTest, BadMagicAndShortInputsRaiseInvalidData) {
    EXPECT_EQ(failure(Bytes{'N', 'O', 'T', 'V', 'Y', 'R', 2, 1, 1, 0, 0}), "error: script invalid-data");
    EXPECT_EQ(failure(Bytes{'V', 'Y', 'R', 'B'}), "error: script invalid-data");
    // A standard image needs its two count words.
    EXPECT_EQ(failure(Bytes{'V', 'Y', 'R', 'B', 'I', 'N', 2, 0, 1, 0, 0}), "error: script invalid-data");
    // Damaged compressed payload.
    EXPECT_EQ(failure(Bytes{'V', 'Y', 'R', 'B', 'I', 'N', 2, 3, 9, 0, 0, 0, 1, 0, 0, 0}), "error: script invalid-data");
}

TEST_F(VyrbinTest, EmptyRecordsDecodeToNothing) {
    Cell back = decode(Bytes{'V', 'Y', 'R', 'B', 'I', 'N', 2, 1, 0, 0});
    EXPECT_EQ(memory::series_length(back.w2), 0u);
    // A padding word of the standard encoding, then an integer.
    back = decode(Bytes{'V', 'Y', 'R', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 11, 0, 0, 0, 42, 0, 0, 0});
    ASSERT_EQ(memory::series_length(back.w2), 1u);
    EXPECT_EQ(mold(*memory::cell_at(back.w2, 0)), "42");
}

TEST_F(VyrbinTest, CompressedImagesDecode) {
    Cell v = load("[\"a long text that repeats a long text that repeats a long text that repeats\" word 1 2 3 "
                  "\"a long text that repeats a long text that repeats a long text that repeats\" other]");
    stack::push_copy(v);
    Bytes image = vyrbin::encode(v, true);
    auto packed = lz77::compress(Bytes(image.begin() + 8, image.end()));
    ASSERT_TRUE(packed);
    Bytes z(image.begin(), image.begin() + 8);
    z[7] |= vyrbin::flag_compressed;
    z.insert(z.end(), packed->begin(), packed->end());
    Cell back = decode(z);
    EXPECT_EQ(mold(*memory::cell_at(back.w2, 0)), mold(v));
}

// Every prefix and many single-byte changes of real images: an error or a
// value, never a crash or a read past the input (the sanitizer build checks).
TEST_F(VyrbinTest, TruncatedAndFlippedImagesNeverCrash) {
    Cell v = load("[a b/c \"text\" #{0102} 1.5 [1 2] 3x4 1.2.3 $5 10% #x 1-Jan-2000/1:00 (x) <t> %f]");
    stack::push_copy(v);
    Cell picture;
    image_t::make_at(&picture, image_backend::image_create(3, 2, {}, {}, nullptr));
    *series::alloc_tail_cell(v.w2) = picture;
    std::mt19937 rng(5);
    for (bool compact : {true, false}) {
        Bytes image = vyrbin::encode(v, compact);
        for (size_t n = 0; n < image.size(); ++n) {
            Bytes cut(image.begin(), image.begin() + long(n));
            failure(cut);
        }
        for (int i = 0; i < 2000; ++i) {
            Bytes bad = image;
            bad[8 + rng() % (bad.size() - 8)] ^= uint8_t(1 + rng() % 255);
            if (rng() % 2) bad[8 + rng() % (bad.size() - 8)] = uint8_t(rng());
            stack::Mark mark;
            failure(bad);
            mark.restore();
        }
    }
}

}  // namespace
}  // namespace vyr::test
