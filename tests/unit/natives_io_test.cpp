// The output, encoding and system natives called through their entries, as
// the evaluator calls them: the argument cells pushed from the base (the
// refinement cells after the plain ones), the refinement positions given,
// the result read back from the base.
#include "engine/natives_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/native.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/text_codec.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/checksum_words.h"
#include "engine/eval.h"
#include "engine/lexer.h"
#include "engine/parse.h"
#include "engine/natives.h"
#include "io/deflate.h"
#include "runtime/collector.h"
#include "runtime/print_hooks.h"
#include "tests/unit/engine_fixture.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/output_capture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
using namespace vyr::test;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int32_t unused = -1;

class NativesIoTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        natives::natives_init();
        checksum::checksum_init();
        deflate::compression_words_init();
        lexer::lexer_init();
        parse::parse_init();
        hooks::print_hooks_init();
        stack::push_cell();
        frames::frame_open(word(sym_f));
    }

    // Calls the native with the argument cells and refinement positions;
    // checks that only the result is left and answers it.
    Cell call(natives::NativeFn fn, std::initializer_list<Cell> args, std::vector<int32_t> refs = {}) {
        Cell* base = stack::arg_base();
        stack::set_top(base);
        for (const Cell& a : args) stack::push_copy(a);
        refs.push_back(unused);  // never read: keeps data() valid for natives without refinements
        EXPECT_EQ(fn(false, refs.data()), Status::ok);
        EXPECT_EQ(stack::top(), base + 1);
        return *base;
    }
};

Cell binary(const Bytes& bytes) {
    Cell c;
    return *natives_io::make_binary_at(c, bytes.data(), bytes.size());
}
Bytes bytes_of(const Cell& binary) {
    EXPECT_EQ(type_of(binary), uint32_t(type_binary));
    natives_io::ByteView v = natives_io::binary_bytes(binary);
    return Bytes(v.data, v.data + v.size);
}
Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes hex(const char* digits) {
    Bytes out;
    for (const char* p = digits; p[0] && p[1]; p += 2)
        out.push_back(uint8_t(std::stoi(std::string(p, 2), nullptr, 16)));
    return out;
}
// A global word! of the text.
Cell word_of(const char* name) { return word_t::make_global(name); }
Cell lit(const char* name) { return word_of(name); }
Cell file(const char* path) { return text(path, type_file); }
std::string name_of(const Cell& word) { return std::string(symbol_t::name(int32_t(word.w2))); }
// The mold of a value, as UTF-8.
std::string mold_text(Cell value) {
    Cell buffer;
    string_t::make_at(buffer, 64);
    registry::action<registry::action_sig::mold>(type_of(value), registry::slot_mold)(&value, &buffer, false, false,
                                                                                      false, nullptr, 0, 0);
    return utf8_of(buffer);
}

std::string temp_path(const char* name) { return std::string(::testing::TempDir()) + "vyr-natives-io-" + name; }
void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}
std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

// ---- checksum ------------------------------------------------------------------------------

TEST_F(NativesIoTest, ChecksumSumsAndDigestsOfKnownVectors) {
    EXPECT_EQ(int_of(call(natives::checksum, {text("abc"), lit("crc32"), none()}, {unused})), 0x352441C2);
    EXPECT_EQ(int_of(call(natives::checksum, {text(""), lit("CRC32"), none()}, {unused})), 0);
    EXPECT_EQ(int_of(call(natives::checksum, {text("abc"), lit("adler32"), none()}, {unused})), 0x024D0127);
    EXPECT_EQ(int_of(call(natives::checksum, {binary({0x00, 0x01}), lit("tcp"), none()}, {unused})), 0xFFFE);
    // Text is summed as UTF-8; a binary! from its index.
    EXPECT_EQ(uint32_t(int_of(call(natives::checksum, {text("é"), lit("crc32"), none()}, {unused}))),
              checksum::crc32(hex("C3A9")));
    Cell b = binary(bytes_of(std::string("xabc")));
    b.w1 = 1;
    EXPECT_EQ(int_of(call(natives::checksum, {b, lit("crc32"), none()}, {unused})), 0x352441C2);

    struct Case {
        const char* method;
        const char* digest;
    } cases[] = {
        {"md5", "900150983cd24fb0d6963f7d28e17f72"},
        {"sha1", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"sha256", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"sha384", "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {"sha512",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bytes_of(call(natives::checksum, {text("abc"), lit(c.method), none()}, {unused})), hex(c.digest))
            << c.method;
}

TEST_F(NativesIoTest, ChecksumHmacWithStringAndBinaryKeys) {
    // RFC 4231 cases 1, 2 and 6 (a key longer than the block is hashed first).
    EXPECT_EQ(bytes_of(call(natives::checksum, {text("Hi There"), lit("sha256"), binary(Bytes(20, 0x0b))}, {2})),
              hex("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"));
    EXPECT_EQ(
        bytes_of(call(natives::checksum, {text("what do ya want for nothing?"), lit("sha256"), text("Jefe")}, {2})),
        hex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
    EXPECT_EQ(bytes_of(call(natives::checksum,
                            {text("Test Using Larger Than Block-Size Key - Hash Key First"), lit("sha256"),
                             binary(Bytes(131, 0xaa))},
                            {2})),
              hex("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"));

    // A key made from the data's own string shares its conversion buffer:
    // the answer is still the HMAC of the two texts.
    Cell data = text("Jefe what do ya want for nothing?");
    int32_t all = -1;
    text_codec::to_utf8(data, all);  // gives `data` its conversion buffer
    Cell message = data;
    message.w1 = 5;
    Bytes shared = bytes_of(call(natives::checksum, {message, lit("md5"), data}, {2}));
    Bytes separate = bytes_of(
        call(natives::checksum,
             {text("what do ya want for nothing?"), lit("md5"), text("Jefe what do ya want for nothing?")}, {2}));
    EXPECT_EQ(shared, separate);
}

TEST_F(NativesIoTest, ChecksumRefusals) {
    EXPECT_RAISES(call(natives::checksum, {text("abc"), lit("crc32"), text("k")}, {2}), err_cat::script,
                  err_id::script::invalid_refine_arg);
    EXPECT_RAISES(call(natives::checksum, {text("abc"), lit("adler32"), integer(16)}, {2}), err_cat::script,
                  err_id::script::invalid_refine_arg);
    EXPECT_RAISES(call(natives::checksum, {text("abc"), lit("hash"), none()}, {unused}), err_cat::script,
                  err_id::script::invalid_refine_arg);
    EXPECT_RAISES(call(natives::checksum, {text("abc"), lit("hash"), text("key")}, {2}), err_cat::script,
                  err_id::script::invalid_refine_arg);
    EXPECT_RAISES(call(natives::checksum, {text("abc"), lit("sha3"), none()}, {unused}), err_cat::script,
                  err_id::script::invalid_arg);
    EXPECT_RAISES(call(natives::checksum, {text("abc"), lit("md5"), integer(0)}, {2}), err_cat::script,
                  err_id::script::invalid_arg);
}

// `checksum/with data 'hash n` answers the table hash as a value (the
// variant that answers, rather than printing that /hash is not available).
TEST_F(NativesIoTest, ChecksumHashAnswersASlotOfTheTable) {
    Cell h = call(natives::checksum, {text("abc"), lit("hash"), integer(256)}, {2});
    EXPECT_EQ(type_of(h), uint32_t(type_integer));
    EXPECT_GE(int_of(h), 0);
    EXPECT_LT(int_of(h), 256);
    EXPECT_EQ(int_of(h), checksum::hash_digest(hex("616263"), 256));
}

TEST_F(NativesIoTest, ChecksumOfAFileReadsItWhole) {
    std::string path = temp_path("sum.txt");
    write_file(path, "abc");
    EXPECT_EQ(int_of(call(natives::checksum, {file(path.c_str()), lit("crc32"), none()}, {unused})), 0x352441C2);
    ::unlink(path.c_str());
    EXPECT_RAISES(call(natives::checksum, {file(path.c_str()), lit("crc32"), none()}, {unused}), err_cat::access,
                  err_id::access::cannot_open);
    EXPECT_RAISES(call(natives::checksum, {file(::testing::TempDir().c_str()), lit("md5"), none()}, {unused}),
                  err_cat::access, err_id::access::cannot_open);
}

// ---- compress, decompress -----------------------------------------------------------------------

TEST_F(NativesIoTest, CompressRoundTripsInEveryFraming) {
    std::string textual;
    for (int i = 0; i < 200; ++i) textual += "the quick brown fox " + std::to_string(i % 7) + "\n";
    Bytes noise(50000);
    uint32_t x = 12345;
    for (uint8_t& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 16);  // expands: the second attempt

    for (const char* method : {"zlib", "deflate", "gzip"}) {
        for (const Bytes& data : {Bytes{}, bytes_of(textual), noise}) {
            Cell packed = call(natives::compress, {binary(data), lit(method)});
            Cell unpacked = call(natives::decompress, {packed, lit(method), none()}, {unused});
            EXPECT_EQ(bytes_of(unpacked), data) << method << " " << data.size();
            // /size only steers the first allocation.
            Cell sized = call(natives::decompress, {packed, lit(method), integer(3)}, {2});
            EXPECT_EQ(bytes_of(sized), data) << method;
        }
    }
    // Text is compressed as UTF-8; the output is the compressor's own.
    Cell gz = call(natives::compress, {text("abcé"), lit("GZIP")});
    EXPECT_EQ(bytes_of(call(natives::decompress, {gz, lit("gzip"), none()}, {unused})), bytes_of("abcé"));
    EXPECT_EQ(bytes_of(call(natives::compress, {binary({}), lit("zlib")})), hex("7801030000000001"));
    EXPECT_RAISES(call(natives::compress, {text("a"), lit("lz4")}), err_cat::script, err_id::script::invalid_arg);
}

TEST_F(NativesIoTest, DecompressOfCorruptInputIsInvalidData) {
    Bytes good = bytes_of(call(natives::compress, {text("hello hello hello hello"), lit("zlib")}));
    Bytes flipped = good;
    flipped[good.size() - 1] ^= 1;  // the Adler-32 trailer
    Bytes gz = bytes_of(call(natives::compress, {text("hello hello hello hello"), lit("gzip")}));
    Bytes cut(gz.begin(), gz.end() - 3);
    Bytes trailing = bytes_of(call(natives::compress, {text("abc"), lit("deflate")}));
    trailing.push_back(0);
    struct Case {
        const char* method;
        Bytes data;
    } cases[] = {
        {"zlib", {0x00}}, {"zlib", flipped},     {"zlib", {0x78, 0x20, 0, 0, 0, 0}}, {"gzip", cut},
        {"gzip", {}},     {"deflate", trailing}, {"deflate", {0x00, 0xFF, 0xFF}},    {"gzip", Bytes(40, 0xFF)},
    };
    for (const Case& c : cases)
        EXPECT_RAISES(call(natives::decompress, {binary(c.data), lit(c.method), none()}, {unused}), err_cat::script,
                      err_id::script::invalid_data);
}

// ---- dehex, enhex, to-hex ---------------------------------------------------------------------

TEST_F(NativesIoTest, PercentDecodingAndEncoding) {
    EXPECT_EQ(utf8_of(call(natives::dehex, {text("a%20b%C3%A9%zz")})), "a bé%zz");
    Cell d = call(natives::dehex, {file("x%2Fy")});
    EXPECT_EQ(type_of(d), uint32_t(type_string));
    EXPECT_EQ(utf8_of(d), "x/y");
    // string!: only the unreserved characters stay; other text keeps the url set.
    EXPECT_EQ(utf8_of(call(natives::enhex, {text("a b/é~")})), "a%20b%2F%C3%A9~");
    Cell e = call(natives::enhex, {file("a b/c")});
    EXPECT_EQ(type_of(e), uint32_t(type_string));
    EXPECT_EQ(utf8_of(e), "a%20b/c");
}

TEST_F(NativesIoTest, ToHexKeepsTheLastDigits) {
    struct Case {
        int32_t value, size;
        const char* digits;
    } cases[] = {{255, unused, "000000FF"},
                 {255, 2, "FF"},
                 {255, 12, "000000FF"},
                 {-1, unused, "FFFFFFFF"},
                 {0x12345678, 3, "678"}};
    for (const Case& c : cases) {
        Cell r = c.size == unused ? call(natives::to_hex, {integer(c.value), none()}, {unused})
                                  : call(natives::to_hex, {integer(c.value), integer(c.size)}, {1});
        EXPECT_EQ(type_of(r), uint32_t(type_issue));
        EXPECT_EQ(name_of(r), c.digits);
    }
    EXPECT_RAISES(call(natives::to_hex, {integer(1), integer(0)}, {1}), err_cat::script, err_id::script::invalid_arg);
}

// ---- debase, enbase ------------------------------------------------------------------------------

TEST_F(NativesIoTest, EnbaseEncodesBinaryAndUtf8Text) {
    struct Case {
        int32_t base;
        Bytes data;
        const char* text;
    } cases[] = {
        {64, {}, ""},
        {64, {0x4D}, "TQ=="},
        {64, {0x4D, 0x61}, "TWE="},
        {64, {0x4D, 0x61, 0x6E}, "TWFu"},
        {2, {0x0F}, "00001111"},
        {16, {0x0A, 0xFF}, "0AFF"},
        {58, {0, 0, 1}, "112"},
        {58, {0}, "1"},
        {58, {}, ""},
        {58, hex("00000000000000000000000000000000"), "1111111111111111"},
    };
    for (const Case& c : cases) {
        Cell r = call(natives::enbase, {binary(c.data), integer(c.base)}, {1});
        EXPECT_EQ(type_of(r), uint32_t(type_string));
        EXPECT_EQ(utf8_of(r), c.text) << c.base;
    }
    EXPECT_EQ(utf8_of(call(natives::enbase, {text("é"), integer(16)}, {1})), "C3A9");
    EXPECT_EQ(utf8_of(call(natives::enbase, {text("Man"), none()}, {unused})), "TWFu");
    EXPECT_RAISES(call(natives::enbase, {text("A"), integer(3)}, {1}), err_cat::script, err_id::script::invalid_arg);
}

TEST_F(NativesIoTest, DebaseDecodesOrAnswersNone) {
    struct Case {
        int32_t base;
        const char* text;
        bool valid;
        Bytes data;
    } cases[] = {
        {64, "TWFu", true, {0x4D, 0x61, 0x6E}},
        {64, "T W\n'F u", true, {0x4D, 0x61, 0x6E}},
        {64, "T", true, {}},
        {64, "T===", false, {}},
        {64, "TQ==xyz!", true, {0x4D}},
        {64, "TW;comment\nFu", true, {0x4D, 0x61, 0x6E}},
        {64, "TW*u", false, {}},
        {2, "0000 1111", true, {0x0F}},
        {2, "0000111", false, {}},
        {16, "0a ;comment\nFF", true, {0x0A, 0xFF}},
        {16, "ABC", true, {0xAB}},
        {16, "XY", false, {}},
        {16, "41", true, {0x41}},
        {16, "", true, {}},
        {58, "112", true, {0, 0, 1}},
        {58, "1", true, {0}},
        {58, "1O", false, {}},
        {58, "0", false, {}},
        {58, "l", false, {}},
    };
    for (const Case& c : cases) {
        Cell r = call(natives::debase, {text(c.text), integer(c.base)}, {1});
        if (!c.valid) {
            EXPECT_EQ(type_of(r), uint32_t(type_none)) << c.text;
            continue;
        }
        EXPECT_EQ(bytes_of(r), c.data) << c.base << " " << c.text;
    }
    // A code above 127 is not valid in any base: it is neither read by its
    // low 7 bits (U+0130 would pass for "0", U+00A0 for a blank) nor taken
    // as the end of the text.
    for (int32_t base : {2, 16, 58, 64})
        for (const char32_t* t : {U"1\u01300", U"11\u00A0", U"112\u3000zz", U"TWFu\u3000"})
            EXPECT_EQ(type_of(call(natives::debase, {text_of(t), integer(base)}, {1})), uint32_t(type_none)) << base;
    EXPECT_RAISES(call(natives::debase, {text("41"), integer(10)}, {1}), err_cat::script, err_id::script::invalid_arg);

    Bytes noise;
    for (int i = 0; i < 300; ++i) noise.push_back(uint8_t(i * 37 + (i >> 3)));
    noise[0] = noise[1] = 0;
    for (int32_t base : {2, 16, 58, 64}) {
        Cell encoded = call(natives::enbase, {binary(noise), integer(base)}, {1});
        EXPECT_EQ(bytes_of(call(natives::debase, {encoded, integer(base)}, {1})), noise) << base;
    }
}

// ---- uppercase, lowercase -----------------------------------------------------------------------

TEST_F(NativesIoTest, CaseChangeInPlaceWithPart) {
    Cell s = text("abcd");
    Cell r = call(natives::uppercase, {s, integer(2)}, {1});
    EXPECT_EQ(r.w2, s.w2);
    EXPECT_EQ(utf8_of(s), "ABcd");
    EXPECT_EQ(utf8_of(call(natives::lowercase, {text("ÀB"), none()}, {unused})), "àb");
    EXPECT_EQ(call(natives::uppercase, {Cell{type_char, 0, 'q', 0}, none()}, {unused}).w2, uint32_t('Q'));
}

// ---- print, prin -------------------------------------------------------------------------------------

TEST_F(NativesIoTest, PrintAndPrinWriteThroughTheHooks) {
    OutputCapture out;
    call(natives::prin, {text("x")});
    EXPECT_FALSE(natives::last_lf_q());
    call(natives::print, {integer(12)});
    EXPECT_TRUE(natives::last_lf_q());
    Cell past = text("ab");
    past.w1 = 7;  // an index past the tail prints nothing
    call(natives::prin, {past});
    Cell r = call(natives::print, {block_of({})});
    EXPECT_EQ(type_of(r), uint32_t(type_unset));
    EXPECT_EQ(out.take(), "x12\n\n");
    Cell* work = natives::print_block();
    EXPECT_EQ(work->w1, 0u);
    EXPECT_EQ(memory::series_length(work->w2), 0u);
}

// A print that fails while forming its values leaves the work block as it
// found it.
TEST_F(NativesIoTest, PrintRestoresTheWorkBlockOnError) {
    Cell* work = natives::print_block();
    block_t::append_value(*work, integer(1));  // an outer print's value
    work->w1 = 0;
    // event! is not registered here: forming it finds no implementation.
    EXPECT_RAISES(call(natives::print, {Cell{type_event, 0, 0, 0}}), err_cat::internal, err_id::internal::not_done);
    EXPECT_EQ(work->w1, 0u);
    EXPECT_EQ(memory::series_length(work->w2), 1u);
}

// ---- transcode, parse ---------------------------------------------------------------------------

namespace {
// transcode's refinement positions for the cells src, length, dst, callback.
std::vector<int32_t> transcode_refs(bool next, bool one, bool prescan, bool scan, bool part, bool into) {
    return {next ? 1 : unused,
            one ? 1 : unused,
            prescan ? 1 : unused,
            scan ? 1 : unused,
            part ? 1 : unused,
            into ? 2 : unused,
            unused};
}
}  // namespace

TEST_F(NativesIoTest, TranscodeLoadsTextAndBinary) {
    Cell r = call(natives::transcode, {text("1 [a] b"), none(), none(), none()}, transcode_refs(0, 0, 0, 0, 0, 0));
    EXPECT_EQ(mold_text(r), "[1 [a] b]");
    // /next: the value and the rest of the input.
    r = call(natives::transcode, {text("a b"), none(), none(), none()}, transcode_refs(1, 0, 0, 0, 0, 0));
    EXPECT_EQ(mold_text(r), "[a \" b\"]");
    r = call(natives::transcode, {text("12 x"), none(), none(), none()}, transcode_refs(0, 1, 0, 0, 0, 0));
    EXPECT_EQ(mold_text(r), "12");
    r = call(natives::transcode, {text("abc"), integer(2), none(), none()}, transcode_refs(0, 0, 0, 0, 1, 0));
    EXPECT_EQ(mold_text(r), "[ab]");
    Cell src = text("x y z");
    Cell part = src;
    part.w1 = 3;
    r = call(natives::transcode, {src, part, none(), none()}, transcode_refs(0, 0, 0, 0, 1, 0));
    EXPECT_EQ(mold_text(r), "[x y]");
    // A binary! skips a leading byte-order mark.
    r = call(natives::transcode, {binary(hex("EFBBBF612062")), none(), none(), none()},
             transcode_refs(0, 0, 0, 0, 0, 0));
    EXPECT_EQ(mold_text(r), "[a b]");
    // /into appends to the block given.
    Cell into = block_of({integer(0)});
    r = call(natives::transcode, {text("1 2"), none(), into, none()}, transcode_refs(0, 0, 0, 0, 0, 1));
    EXPECT_EQ(r.w2, into.w2);
    EXPECT_EQ(mold_text(into), "[0 1 2]");
    EXPECT_RAISES(
        call(natives::transcode, {text("abc"), binary({1}), none(), none()}, transcode_refs(0, 0, 0, 0, 1, 0)),
        err_cat::script, err_id::script::not_same_type);
}

TEST_F(NativesIoTest, TranscodeScanAnswersATypeOrNone) {
    Cell r = call(natives::transcode, {text("12"), none(), none(), none()}, transcode_refs(0, 0, 0, 1, 0, 0));
    EXPECT_EQ(type_of(r), uint32_t(type_datatype));
    EXPECT_EQ(r.w1, uint32_t(type_integer));
    r = call(natives::transcode, {text(""), none(), none(), none()}, transcode_refs(0, 0, 1, 0, 0, 0));
    EXPECT_EQ(type_of(r), uint32_t(type_none));
    // /next/scan: the type and the rest.
    r = call(natives::transcode, {text("[a] b"), none(), none(), none()}, transcode_refs(1, 0, 0, 1, 0, 0));
    EXPECT_EQ(mold_text(r), "[block! \" b\"]");
}

TEST_F(NativesIoTest, ParseWithAnEmptyPartAnswersAtOnce) {
    std::vector<int32_t> with_part{unused, 2, unused};
    EXPECT_EQ(call(natives::parse, {text("abc"), block_of({}), integer(0), none()}, with_part).w1, 0u);
    EXPECT_EQ(call(natives::parse, {text(""), block_of({}), integer(0), none()}, with_part).w1, 1u);
    EXPECT_RAISES(call(natives::parse, {text("abc"), block_of({}), block_of({}), none()}, with_part), err_cat::script,
                  err_id::script::invalid_refine_arg);
    // Without /part the rules run: no rule leaves the input unmatched.
    Cell ran = call(natives::parse, {text("abc"), block_of({}), none(), none()}, {unused, unused, unused});
    EXPECT_EQ(type_of(ran), type_logic);
    EXPECT_EQ(ran.w1, 0u);
}

// ---- Composite scalars -----------------------------------------------------------------------------

TEST_F(NativesIoTest, AsPairTruncatesAndRefusesNonFiniteFloats) {
    Cell nan{type_float, 0, 0, 0};
    set_cell_float(nan, std::nan(""));
    EXPECT_RAISES(call(natives::as_pair, {integer(1), nan}), err_cat::script, err_id::script::invalid_arg);
    Cell x{type_float, 0, 0, 0}, y{type_float, 0, 0, 0};
    set_cell_float(x, 1.9);
    set_cell_float(y, -1.9);
    Cell p = call(natives::as_pair, {x, y});
    EXPECT_EQ(int32_t(p.w2), 1);
    EXPECT_EQ(int32_t(p.w3), -1);
}

// ---- Environment ----------------------------------------------------------------------------------

TEST_F(NativesIoTest, EnvironmentVariables) {
    const char* name = "VYR_NATIVES_IO_TEST";
    Cell r = call(natives::set_env, {text(name), text("v1 é")});
    EXPECT_EQ(utf8_of(r), "v1 é");
    EXPECT_STREQ(std::getenv(name), "v1 é");
    EXPECT_EQ(utf8_of(call(natives::get_env, {text(name)})), "v1 é");
    // A word names the variable by its spelling.
    EXPECT_EQ(utf8_of(call(natives::get_env, {word_of(name)})), "v1 é");
    EXPECT_EQ(type_of(call(natives::get_env, {word_of("vyr_natives_io_test")})), uint32_t(type_none));
    call(natives::set_env, {lit(name), text("")});
    EXPECT_EQ(type_of(call(natives::get_env, {text(name)})), uint32_t(type_none));  // empty counts as absent
    EXPECT_EQ(type_of(call(natives::set_env, {text(name), none()})), uint32_t(type_none));
    EXPECT_EQ(std::getenv(name), nullptr);
    EXPECT_EQ(type_of(call(natives::get_env, {text(name)})), uint32_t(type_none));
    // Bytes that are not UTF-8 come back replaced, not as an error.
    ::setenv(name, "a\xFF", 1);
    EXPECT_EQ(code_points(call(natives::get_env, {text(name)})), U"a\uFFFD");
    ::unsetenv(name);
}

// ---- Files -------------------------------------------------------------------------------------------

TEST_F(NativesIoTest, SizeOfFilesAndDirectoryNames) {
    std::string path = temp_path("size.bin");
    write_file(path, "12345");
    EXPECT_EQ(int_of(call(natives::size_q, {file(path.c_str())})), 5);
    for (const char* name : {".", "..", "dir/", "a/..", "a\\"})
        EXPECT_EQ(type_of(call(natives::size_q, {file(name)})), uint32_t(type_none)) << name;
    EXPECT_EQ(type_of(call(natives::size_q, {file("/nonexistent/vyr")})), uint32_t(type_none));
    std::string dir = ::testing::TempDir();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    EXPECT_EQ(type_of(call(natives::size_q, {file(dir.c_str())})), uint32_t(type_none));

    // 2 GiB and more: the real size, as float! (a sparse file).
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    constexpr off_t big = (off_t(1) << 31) + 10;
    ASSERT_EQ(::ftruncate(fd, big), 0);
    ::close(fd);
    Cell r = call(natives::size_q, {file(path.c_str())});
    EXPECT_EQ(type_of(r), uint32_t(type_float));
    EXPECT_EQ(cell_float(r), double(big));
    ::unlink(path.c_str());
}

TEST_F(NativesIoTest, ToLocalFileIsThePosixPath) {
    EXPECT_EQ(utf8_of(call(natives::to_local_file, {file("/c/data/file.txt"), none()}, {unused})), "/c/data/file.txt");
    Cell r = call(natives::to_local_file, {text("rel/x"), none()}, {1});
    EXPECT_EQ(type_of(r), uint32_t(type_string));
    EXPECT_EQ(utf8_of(r), platform::get_current_dir() + "/rel/x");
}

// ---- Clock ---------------------------------------------------------------------------------------------

namespace {
enum { n_year, n_month, n_day, n_time, n_zone, n_date, n_weekday, n_yearday, n_precise, n_utc };
std::vector<int32_t> now_refs(std::initializer_list<int> used) {
    std::vector<int32_t> refs(10, unused);
    for (int r : used) refs[size_t(r)] = 0;
    return refs;
}
}  // namespace

TEST_F(NativesIoTest, NowFieldsAndRefinementChecks) {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    EXPECT_EQ(int_of(call(natives::now, {}, now_refs({n_year}))), local.tm_year + 1900);
    EXPECT_EQ(int_of(call(natives::now, {}, now_refs({n_month}))), local.tm_mon + 1);
    EXPECT_EQ(int_of(call(natives::now, {}, now_refs({n_yearday}))), local.tm_yday + 1);
    EXPECT_EQ(int_of(call(natives::now, {}, now_refs({n_weekday}))), local.tm_wday == 0 ? 7 : local.tm_wday);
    Cell zone = call(natives::now, {}, now_refs({n_zone}));
    EXPECT_EQ(type_of(zone), uint32_t(type_time));
    EXPECT_EQ(cell_float(zone), double(local.tm_gmtoff / 900 * 900));
    EXPECT_EQ(cell_float(call(natives::now, {}, now_refs({n_zone, n_utc}))), 0.0);
    Cell time = call(natives::now, {}, now_refs({n_time, n_precise, n_year}));  // allowed: /time and /precise
    EXPECT_EQ(type_of(time), uint32_t(type_integer));
    time = call(natives::now, {}, now_refs({n_time}));
    EXPECT_GE(cell_float(time), 0.0);
    EXPECT_LT(cell_float(time), 86400.0);

    EXPECT_RAISES(call(natives::now, {}, now_refs({n_year, n_month})), err_cat::script, err_id::script::bad_refines);
    EXPECT_RAISES(call(natives::now, {}, now_refs({n_date, n_precise})), err_cat::script, err_id::script::bad_refines);
    Cell today = call(natives::now, {}, now_refs({n_date}));
    EXPECT_EQ(type_of(today), uint32_t(type_date));
    EXPECT_FALSE(date_t::has_time_q(date_t::packed_of(today)));
    EXPECT_EQ(date_t::zone_of(date_t::packed_of(today)), 0u);
}

// Far east and far west of UTC the local date differs from the UTC date for
// most of the day: the date and its time must still be the local ones.
TEST_F(NativesIoTest, NowKeepsTheLocalDateInEveryZone) {
    const char* saved = std::getenv("TZ");
    std::string kept = saved ? saved : "";
    for (const char* zone : {"Etc/GMT-14", "Etc/GMT+12", "UTC"}) {
        setenv("TZ", zone, 1);
        tzset();
        std::time_t t = std::time(nullptr);
        std::tm local{};
        localtime_r(&t, &local);
        Cell d = call(natives::now, {}, now_refs({}));
        ASSERT_EQ(type_of(d), uint32_t(type_date)) << zone;
        int32_t packed = date_t::packed_of(d);
        EXPECT_EQ(date_t::day_of(packed), local.tm_mday) << zone;
        EXPECT_EQ(date_t::month_of(packed), local.tm_mon + 1) << zone;
        double local_time = date_t::time_of(d) + date_t::zone_seconds(date_t::zone_of(packed));
        double expected = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
        EXPECT_NEAR(local_time, expected, 2.0) << zone;
    }
    if (saved) setenv("TZ", kept.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST_F(NativesIoTest, WaitTakesSecondsOnly) {
    EXPECT_EQ(type_of(call(natives::wait, {integer(0), none()}, {unused})), uint32_t(type_none));
    Cell t{type_time, 0, 0, 0};
    set_cell_float(t, 0.001);
    EXPECT_EQ(type_of(call(natives::wait, {t, none()}, {unused})), uint32_t(type_none));
    EXPECT_RAISES(call(natives::wait, {block_of({integer(1)}), none()}, {unused}), err_cat::script,
                  err_id::script::invalid_arg);
    EXPECT_RAISES(call(natives::wait, {none(), none()}, {unused}), err_cat::script, err_id::script::invalid_arg);
}

// ---- Memory ---------------------------------------------------------------------------------------------

TEST_F(NativesIoTest, StatsAndRecycle) {
    Cell used = call(natives::stats, {none(), none()}, {unused, unused});
    EXPECT_EQ(type_of(used), uint32_t(type_integer));
    EXPECT_GT(int_of(used), 0);
    Cell info = call(natives::stats, {none(), none()}, {unused, 0});
    EXPECT_EQ(type_of(info), uint32_t(type_block));
    EXPECT_EQ(memory::series_length(info.w2), 5u);
    EXPECT_EQ(type_of(call(natives::recycle, {none(), none()}, {unused, unused})), uint32_t(type_integer));
    EXPECT_EQ(type_of(call(natives::recycle, {none(), none()}, {unused, 0})), uint32_t(type_unset));
    EXPECT_FALSE(collector::enabled());
    call(natives::recycle, {none(), none()}, {0, unused});
    EXPECT_TRUE(collector::enabled());
}

// ---- call, browse -------------------------------------------------------------------------------------------

namespace {
// call's refinement positions: wait show console shell, then the cells of
// /input (1), /output (2), /error (3).
std::vector<int32_t> call_refs(bool wait, bool shell, bool in, bool out, bool err) {
    return {wait ? 1 : unused, unused, unused, shell ? 1 : unused, in ? 1 : unused, out ? 2 : unused, err ? 3 : unused};
}
}  // namespace

TEST_F(NativesIoTest, CallRunsCommandsAndCapturesTheirStreams) {
    EXPECT_EQ(int_of(call(natives::call, {text(""), none(), none(), none()}, call_refs(0, 0, 0, 0, 0))), 0);
    EXPECT_EQ(int_of(call(natives::call, {text("sh -c 'exit 3'"), none(), none(), none()}, call_refs(1, 0, 0, 0, 0))),
              3);
    // Output into a string! (CR LF folded) and the error stream into a binary! at its index.
    Cell out = text("> ");
    Cell err = binary(bytes_of(std::string("[]")));
    err.w1 = 1;
    int32_t status = int_of(call(natives::call, {text("sh -c \"printf 'a\\r\\nb'; printf E >&2\""), none(), out, err},
                                 call_refs(0, 0, 0, 1, 1)));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(utf8_of(out), "> a\nb");
    err.w1 = 0;
    EXPECT_EQ(bytes_of(err), bytes_of(std::string("[E]")));
    // Input as UTF-8 text, large enough to need both pipes drained together.
    std::string big(300000, 'x');
    big += "é";
    Cell echoed = text("");
    call(natives::call, {text("cat"), text(big.c_str()), echoed, none()}, call_refs(0, 0, 1, 1, 0));
    EXPECT_EQ(utf8_of(echoed), big);
    // The shell: by request, and as the fallback for a command not found.
    Cell shell_out = text("");
    call(natives::call, {text("echo $((1+2))"), none(), shell_out, none()}, call_refs(0, 1, 0, 1, 0));
    EXPECT_EQ(utf8_of(shell_out), "3\n");
    EXPECT_EQ(
        int_of(call(natives::call, {text("vyr-no-such-program-x"), none(), none(), none()}, call_refs(1, 0, 0, 0, 0))),
        127);
    // Output appended to a file; a missing input file fails the call.
    std::string path = temp_path("call-out.txt");
    write_file(path, "old ");
    call(natives::call, {text("echo new"), none(), file(path.c_str()), none()}, call_refs(0, 0, 0, 1, 0));
    EXPECT_EQ(read_file(path), "old new\n");
    ::unlink(path.c_str());
    EXPECT_EQ(int_of(call(natives::call, {text("cat"), file("/nonexistent/vyr-in"), none(), none()},
                          call_refs(0, 0, 1, 0, 0))),
              -1);
    // Without waiting the answer is the process id.
    EXPECT_GT(int_of(call(natives::call, {text("true"), none(), none(), none()}, call_refs(0, 0, 0, 0, 0))), 0);
}

TEST_F(NativesIoTest, BrowseHandsTheTargetToXdgOpen) {
    std::string dir = temp_path("bin");
    ::mkdir(dir.c_str(), 0700);
    std::string seen = temp_path("browse-seen");
    ::unlink(seen.c_str());
    write_file(dir + "/xdg-open",
               "#!/bin/sh\nprintf '%s' \"$1\" > '" + seen + ".tmp' && mv '" + seen + ".tmp' '" + seen + "'\n");
    ::chmod((dir + "/xdg-open").c_str(), 0700);
    std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (dir + ":" + old_path).c_str(), 1);
    Cell r = call(natives::browse, {text("http://example.com/a b", type_url)});
    ::setenv("PATH", old_path.c_str(), 1);
    EXPECT_EQ(type_of(r), uint32_t(type_unset));
    for (int i = 0; i < 500 && ::access(seen.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(read_file(seen), "http://example.com/a b");
    ::unlink(seen.c_str());
    ::unlink((dir + "/xdg-open").c_str());
    ::rmdir(dir.c_str());
}

// ---- print through the evaluator -----------------------------------------------------------------

namespace {

Cell load_text(const std::string& source) { return test::load_code(source); }

// The evaluator with `print`, `prin` and the `+` operator defined by hand
// (the start-up sources are not loaded here).
class PrintEvalTest : public test::EvalFixture {
protected:
    void SetUp() override {
        test::EvalFixture::SetUp();
        hooks::print_hooks_init();
        define_callable(type_native, "print", "value", 22);
        define_callable(type_native, "prin", "value", 23);
        define_callable(type_action, "add", "a b", registry::slot_add - 1);
        define_op("+", "add");
    }
    // Runs the code and answers what it printed; `raised` tells whether it
    // ended in an error (which is expected only when `raised` is given).
    std::string run(const std::string& source, bool* raised = nullptr) {
        Cell code = load_text(source);
        stack::stack_reset();
        Cell* base = stack::push_cell();
        *base = none();
        unwind::Site site;
        OutputCapture out;
        try {
            EXPECT_EQ(eval::eval_block(frames::markers().body, code, false), Status::ok) << source;
        } catch (const Unwind&) {
            site.restore();
            if (raised)
                *raised = true;
            else
                ADD_FAILURE() << source << ": " << errors::message_line(errors::last_error());
        }
        stack::set_top(base);
        return out.take();
    }
};

}  // namespace

TEST_F(PrintEvalTest, NestedPrintsStackTheirValuesAboveTheOuterOnes) {
    EXPECT_EQ(run(R"(print [1 + 1 "a"] prin "x" prin "y")"), "2 a\nxy");
    EXPECT_EQ(run(R"(print ["a" (print "b" "x") "c"])"), "b\na x c\n");
    EXPECT_EQ(run(R"(print ["a" (print ["b" (prin [1 + 2] "y") "c"] "x") "d"])"), "3b y c\na x d\n");
    Cell* work = natives::print_block();
    EXPECT_EQ(work->w1, 0u);
    EXPECT_EQ(memory::series_length(work->w2), 0u);
}

TEST_F(PrintEvalTest, AnErrorInTheReductionLeavesTheWorkBlockClean) {
    bool raised = false;
    EXPECT_EQ(run(R"(print ["a" (print ["b" 1 + none]) "c"])", &raised), "");
    EXPECT_TRUE(raised);
    Cell* work = natives::print_block();
    EXPECT_EQ(work->w1, 0u);
    EXPECT_EQ(memory::series_length(work->w2), 0u);
    EXPECT_EQ(run(R"(print ["ok"])"), "ok\n");
}

// Every safe point of the reductions moves every buffer.
TEST_F(PrintEvalTest, NestedPrintsUnderCollectionStress) {
    collector::set_stress(true);
    EXPECT_EQ(run(R"(print ["a" (print ["b" (prin [1 + 2] "y") "c"] "x") "d"])"), "3b y c\na x d\n");
    collector::set_stress(false);
    EXPECT_EQ(memory::series_length(natives::print_block()->w2), 0u);
}
