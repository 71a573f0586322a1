// The method words of checksum and of compress/decompress: interned at
// start-up, matched in any letter case.
#include <gtest/gtest.h>

#include "datatypes/symbol.h"
#include "engine/checksum_words.h"
#include "io/deflate.h"
#include "tests/unit/fixture.h"

using namespace vyr;

class MethodWordsTest : public test::RuntimeTest {};

TEST_F(MethodWordsTest, ChecksumMethods) {
    checksum::checksum_init();
    checksum::Method m;
    ASSERT_TRUE(checksum::method_of_symbol(symbol_t::make("sha256"), m));
    EXPECT_EQ(m, checksum::Method::sha256);
    ASSERT_TRUE(checksum::method_of_symbol(symbol_t::make("CRC32"), m));
    EXPECT_EQ(m, checksum::Method::crc32);
    EXPECT_FALSE(checksum::method_of_symbol(symbol_t::make("sha3"), m));
}

TEST_F(MethodWordsTest, CompressionFramings) {
    deflate::compression_words_init();
    deflate::Framing f;
    ASSERT_TRUE(deflate::framing_of_symbol(symbol_t::make("gzip"), f));
    EXPECT_EQ(f, deflate::Framing::gzip);
    ASSERT_TRUE(deflate::framing_of_symbol(symbol_t::make("Zlib"), f));
    EXPECT_EQ(f, deflate::Framing::zlib);
    EXPECT_FALSE(deflate::framing_of_symbol(symbol_t::make("lzma"), f));
}
