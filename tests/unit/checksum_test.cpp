// Checksums and digests: published vectors, zlib and libcrypto as oracles,
// the TCP checksum's carries, the table hash and the secure source.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/checksum.h"
#include "runtime/catch_codes.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "tests/unit/output_capture.h"

using namespace vyr;
using checksum::Method;

namespace {
checksum::Bytes bytes_of(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

std::string hex_of(checksum::Bytes b) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t x : b) {
        out += digits[x >> 4];
        out += digits[x & 15];
    }
    return out;
}

std::string unhex(const std::string& h) {
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out += char(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(gen());
    return v;
}


// The runtime error report goes to standard output; death tests match
// standard error.
void report_to_stderr() { platform::set_output_fd(STDERR_FILENO); }

// Runs `body`, which must raise script `invalid-arg`.
template <typename F>
void expect_invalid_arg(F body) {
    try {
        body();
        ADD_FAILURE() << "no error raised";
    } catch (const Unwind& u) {
        EXPECT_EQ(u.code, catch_code::error);
        EXPECT_EQ(errors::last_error().category, err_cat::script);
        EXPECT_EQ(errors::last_error().id, err_id::script::invalid_arg);
    }
}
}  // namespace

TEST(ChecksumTest, SmallSumsOfKnownInputs) {
    struct Case {
        std::string data;
        uint32_t crc, adler, tcp;
    } cases[] = {
        {"", 0, 1, 0xFFFF},
        {"abc", 0x352441C2, 0x024D0127, uint32_t(~(0x6162 + 0x63)) & 0xFFFF},
        {std::string("\x00\x01", 2), 0x36DE2269, 0x00030002, 0xFFFE},
        {"\x01", 0xA505DF1B, 0x00020002, 0xFFFE},  // odd final byte counts as a low byte
        {"123456789", 0xCBF43926, 0x091E01DE, uint32_t(~(0x3132 + 0x3334 + 0x3536 + 0x3738 + 0x39)) & 0xFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checksum::crc32(bytes_of(c.data)), c.crc) << c.data;
        EXPECT_EQ(checksum::adler32(bytes_of(c.data)), c.adler) << c.data;
        EXPECT_EQ(checksum::tcp_checksum(bytes_of(c.data)), c.tcp) << c.data;
    }
}

// zlib's crc32() and adler32() as the oracle; the sizes straddle the
// Adler-32 reduction block (3854) and its multiples.
TEST(ChecksumTest, Crc32AndAdler32AgreeWithZlib) {
    std::vector<size_t> sizes = {1, 2, 3, 15, 16, 17, 255, 256, 1000, 3853, 3854, 3855, 7708, 7709, 65536, 100003};
    for (size_t n : sizes) {
        auto data = random_bytes(n, uint32_t(n));
        EXPECT_EQ(checksum::crc32(data), uint32_t(::crc32(0L, data.data(), uInt(n)))) << n;
        EXPECT_EQ(checksum::adler32(data), uint32_t(::adler32(1L, data.data(), uInt(n)))) << n;
    }
    // All-0xFF bytes make the Adler sums largest between reductions.
    std::vector<uint8_t> ff(1 << 20, 0xFF);
    EXPECT_EQ(checksum::adler32(ff), uint32_t(::adler32(1L, ff.data(), uInt(ff.size()))));
    EXPECT_EQ(checksum::crc32(ff), uint32_t(::crc32(0L, ff.data(), uInt(ff.size()))));
}

TEST(ChecksumTest, TcpChecksumKeepsEveryCarry) {
    // RFC 1071's example words sum to 0xDDF2.
    const std::string rfc = unhex("0001f203f4f5f6f7");
    EXPECT_EQ(checksum::tcp_checksum(bytes_of(rfc)), 0x220Du);
    // Appending the checksum to even-length data makes the whole sum check to 0.
    for (size_t n : {2u, 64u, 1500u, 40000u}) {
        auto data = random_bytes(n, 7 + uint32_t(n));
        uint32_t sum = checksum::tcp_checksum(data);
        data.push_back(uint8_t(sum >> 8));
        data.push_back(uint8_t(sum));
        EXPECT_EQ(checksum::tcp_checksum(data), 0u) << n;
    }
    // 100000 words of 0xFFFF pass 2^32 in a 32-bit sum; the one's complement
    // sum is still 0xFFFF, so the checksum is 0.
    std::vector<uint8_t> ff(200000, 0xFF);
    EXPECT_EQ(checksum::tcp_checksum(ff), 0u);
}

// RFC 1321 (MD5) and FIPS 180 (SHA) examples.
TEST(ChecksumTest, DigestsOfPublishedVectors) {
    const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string long_msg =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
        "nopqrstu";
    struct Case {
        int32_t code;
        std::string data, hex;
    } cases[] = {
        {checksum::code::md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {checksum::code::md5, "a", "0cc175b9c0f1b6a831c399e269772661"},
        {checksum::code::md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {checksum::code::md5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {checksum::code::md5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {checksum::code::md5, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {checksum::code::md5,
         "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {checksum::code::sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {checksum::code::sha1, two_blocks, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {checksum::code::sha1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {checksum::code::sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {checksum::code::sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {checksum::code::sha256, two_blocks, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {checksum::code::sha384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {checksum::code::sha384, long_msg,
         "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
        {checksum::code::sha512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
        {checksum::code::sha512, long_msg,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433a"
         "c7d329eeb6dd26545e96e55b874be909"},
    };
    for (const Case& c : cases) {
        checksum::Digest d = checksum::digest(bytes_of(c.data), c.code);
        EXPECT_EQ(d.size, checksum::digest_size(c.code));
        EXPECT_EQ(hex_of(d.view()), c.hex) << c.code << " " << c.data.substr(0, 20);
    }
}

TEST(ChecksumTest, MethodCodesAndSizes) {
    const Method methods[] = {Method::tcp, Method::crc32, Method::md5, Method::sha1,
                              Method::sha256, Method::sha384, Method::sha512};
    const uint32_t sizes[] = {0, 0, 16, 20, 32, 48, 64};
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(checksum::method_code(methods[i]), i);
        EXPECT_EQ(checksum::digest_size(i), sizes[i]);
    }
    EXPECT_EQ(checksum::digest_size(7), 0u);
    EXPECT_EQ(checksum::method_names[size_t(Method::adler32)], "adler32");
    EXPECT_EQ(checksum::method_names[size_t(Method::hash)], "hash");
}

TEST(ChecksumDeathTest, MethodWithoutCodeEndsWithRuntimeError100) {
    EXPECT_EXIT((report_to_stderr(), checksum::method_code(Method::adler32)), testing::ExitedWithCode(100),
                "Runtime Error 100: no value matched in CASE");
}

TEST(ChecksumTest, DigestOfANonDigestCodeIsInvalidArg) {
    for (int32_t c : {checksum::code::tcp, checksum::code::crc32, 7, -1}) {
        expect_invalid_arg([&] { (void)checksum::digest(bytes_of("abc"), c); });
        EXPECT_EQ(int32_t(errors::last_error().args[0].w2), c);
    }
}

// RFC 4231 (SHA-2) and RFC 2202 (MD5, SHA-1) examples; the 131- and
// 80-byte keys are longer than the block and are hashed first.
TEST(ChecksumTest, HmacOfPublishedVectors) {
    const std::string hi = "Hi There", jefe = "Jefe", want = "what do ya want for nothing?";
    const std::string big_key_msg = "Test Using Larger Than Block-Size Key - Hash Key First";
    const std::string big_both_msg =
        "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
        "hashed before being used by the HMAC algorithm.";
    std::string k25;
    for (int i = 1; i <= 25; i++) k25 += char(i);
    struct Case {
        Method method;
        std::string key, data, hex;
    } cases[] = {
        {Method::sha256, std::string(20, '\x0b'), hi,
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {Method::sha384, std::string(20, '\x0b'), hi,
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
        {Method::sha512, std::string(20, '\x0b'), hi,
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4b"
         "e9d914eeb61f1702e696c203a126854"},
        {Method::sha256, jefe, want, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {Method::sha512, jefe, want,
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fd"
         "caeab1a34d4a6b4b636e070a38bce737"},
        {Method::sha256, std::string(20, '\xaa'), std::string(50, '\xdd'),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {Method::sha384, k25, std::string(50, '\xcd'),
         "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb"},
        {Method::sha256, std::string(131, '\xaa'), big_key_msg,
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {Method::sha384, std::string(131, '\xaa'), big_key_msg,
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
        {Method::sha512, std::string(131, '\xaa'), big_both_msg,
         "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15"
         "134676fb6de0446065c97440fa8c6a58"},
        {Method::md5, std::string(16, '\x0b'), hi, "9294727a3638bb1c13f48ef8158bfc9d"},
        {Method::md5, jefe, want, "750c783e6ab0b503eaa86e310a5db738"},
        {Method::md5, std::string(80, '\xaa'), big_key_msg, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {Method::sha1, std::string(20, '\x0b'), hi, "b617318655057264e28bc0b6fb378c8ef146be00"},
        {Method::sha1, std::string(80, '\xaa'), big_key_msg, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    };
    for (const Case& c : cases) {
        checksum::Digest d = checksum::hmac(bytes_of(c.data), bytes_of(c.key), c.method);
        EXPECT_EQ(hex_of(d.view()), c.hex) << checksum::method_names[size_t(c.method)] << " key " << c.key.size();
    }
}

// libcrypto's own HMAC as the oracle around the block-size boundaries (64
// and 128), where the key is padded, kept whole, or hashed first.
TEST(ChecksumTest, HmacAgreesWithLibcryptoAtKeyBoundaries) {
    struct Algo {
        Method method;
        const EVP_MD* md;
    } algos[] = {{Method::md5, EVP_md5()},       {Method::sha1, EVP_sha1()},     {Method::sha256, EVP_sha256()},
                 {Method::sha384, EVP_sha384()}, {Method::sha512, EVP_sha512()}};
    auto data = random_bytes(300, 1);
    for (const Algo& a : algos) {
        for (size_t key_len : {0u, 1u, 63u, 64u, 65u, 100u, 127u, 128u, 129u, 300u}) {
            auto key = random_bytes(key_len, uint32_t(key_len) + 99);
            uint8_t expect[EVP_MAX_MD_SIZE];
            unsigned int n = 0;
            ASSERT_NE(HMAC(a.md, key.data(), int(key.size()), data.data(), data.size(), expect, &n), nullptr);
            checksum::Digest d = checksum::hmac(data, key, a.method);
            EXPECT_EQ(hex_of(d.view()), hex_of({expect, n}))
                << checksum::method_names[size_t(a.method)] << " key " << key_len;
        }
    }
}

TEST(ChecksumTest, HmacRefusesNonDigestMethods) {
    for (Method m : {Method::crc32, Method::tcp, Method::adler32, Method::hash}) {
        test::OutputCapture cap;
        checksum::Digest d = checksum::hmac(bytes_of("data"), bytes_of("key"), m);
        EXPECT_EQ(cap.take(), "The selected algorithm doesn't support HMAC calculation\n");
        EXPECT_EQ(d.size, 0u);
    }
}

// `checksum/with data 'hash n` answers a slot number for a table of n slots.
// (The digest routine could instead print that hashing is not implemented
// and answer nothing; the value-answering form is the one built.)
TEST(ChecksumTest, HashDigestIsASlotOfTheTable) {
    EXPECT_EQ(checksum::hash_digest(bytes_of("abc"), 1), 0);
    EXPECT_EQ(checksum::hash_digest(bytes_of("abc"), 256), checksum::hash_digest(bytes_of("abc"), 256));
    std::vector<bool> hit(256);
    int used = 0;
    for (int i = 0; i < 2000; i++) {
        int32_t slot = checksum::hash_digest(bytes_of("key" + std::to_string(i)), 256);
        ASSERT_GE(slot, 0);
        ASSERT_LT(slot, 256);
        if (!hit[size_t(slot)]) used++;
        hit[size_t(slot)] = true;
    }
    EXPECT_GT(used, 240);  // 2000 keys leave no more than a handful of 256 slots empty
    int32_t big = checksum::hash_digest(bytes_of("abc"), 0x7FFFFFFF);
    EXPECT_GE(big, 0);
    EXPECT_NE(checksum::hash_digest(bytes_of("abc"), 0x7FFFFFFF), checksum::hash_digest(bytes_of("abd"), 0x7FFFFFFF));
}

TEST(ChecksumTest, HashDigestOfAnEmptyTableIsInvalidArg) {
    for (int32_t n : {0, -5}) expect_invalid_arg([&] { (void)checksum::hash_digest(bytes_of("abc"), n); });
}

TEST(ChecksumTest, CryptoRandomFillsWithFreshBytes) {
    std::vector<uint8_t> a(64), b(64);
    checksum::crypto_random(a);
    checksum::crypto_random(b);
    EXPECT_NE(a, b);
    EXPECT_NE(a, std::vector<uint8_t>(64, 0));
    std::vector<uint8_t> big(1 << 20);
    checksum::crypto_random(big);
    size_t zeros = 0;
    for (uint8_t x : big) zeros += x == 0;
    EXPECT_LT(zeros, 8192u);  // about 4096 expected from uniform bytes
}
