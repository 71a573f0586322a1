#include "runtime/checksum.h"

#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/hash.h"
#include "runtime/platform.h"
#include "runtime/runtime_error.h"
#include "runtime/shared_library.h"

namespace vyr::checksum {

namespace {
// Error ids used here (positions in their categories).
constexpr int script_invalid_arg = 11;
constexpr int internal_feature_na = 10;

[[noreturn]] void raise_invalid_integer(int32_t value) {
    Cell arg{type_integer, 0, uint32_t(value), 0};
    raise_error(err_cat::script, script_invalid_arg, &arg);
}

// libcrypto or the kernel could not do the work: say so rather than answer
// bytes that are not the digest.
[[noreturn]] void provider_failed() { raise_error(err_cat::internal, internal_feature_na); }
}  // namespace

int32_t method_code(Method method) {
    switch (method) {
    case Method::tcp: return code::tcp;
    case Method::crc32: return code::crc32;
    case Method::md5: return code::md5;
    case Method::sha1: return code::sha1;
    case Method::sha256: return code::sha256;
    case Method::sha384: return code::sha384;
    case Method::sha512: return code::sha512;
    case Method::adler32:
    case Method::hash: break;
    }
    runtime_error_quit(runtime_error_no::no_case_match, VYR_CODE_POSITION());
}

uint32_t digest_size(int32_t c) {
    switch (c) {
    case code::md5: return 16;
    case code::sha1: return 20;
    case code::sha256: return 32;
    case code::sha384: return 48;
    case code::sha512: return 64;
    default: return 0;
    }
}

// ---- CRC-32, Adler-32, TCP ------------------------------------------------

namespace {
constexpr uint32_t crc_polynomial = 0xEDB88320;  // reflected 0x04C11DB7

// CRC-32 eight bytes at a time: table k gives the CRC of a byte followed by
// k zero bytes; table 0 is the classic byte table.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables make_crc_tables() {
    CrcTables t{};
    for (uint32_t b = 0; b < 256; b++) {
        uint32_t c = b;
        for (int i = 0; i < 8; i++) c = c & 1 ? crc_polynomial ^ (c >> 1) : c >> 1;
        t[0][b] = c;
    }
    for (size_t k = 1; k < 8; k++)
        for (uint32_t b = 0; b < 256; b++) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr CrcTables crc_tables = make_crc_tables();

constexpr uint32_t adler_modulus = 65521;
// Bytes summed between reductions: the longest run for which the second sum
// cannot overflow 32 bits.
constexpr size_t adler_run = 5552;
}  // namespace

uint32_t crc32(Bytes data) {
    const uint8_t* p = data.data();
    size_t n = data.size();
    uint32_t c = 0xFFFFFFFFu;
    const auto& t = crc_tables;
    for (; n >= 8; n -= 8, p += 8) {
        uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
            t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; n > 0; n--, p++) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t adler32(Bytes data) {
    const uint8_t* p = data.data();
    size_t n = data.size();
    uint32_t a = 1, b = 0;
    while (n > 0) {
        size_t k = n < adler_run ? n : adler_run;
        n -= k;
        for (; k > 0; k--) {
            a += *p++;
            b += a;
        }
        a %= adler_modulus;
        b %= adler_modulus;
    }
    return (b << 16) | a;
}

// The sum is kept in 64 bits and folded until it fits 16 bits, so inputs of
// any length keep every carry (a 32-bit sum would wrap past 128 KiB of 0xFF).
uint32_t tcp_checksum(Bytes data) {
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < data.size(); i += 2) sum += uint32_t(data[i]) << 8 | data[i + 1];
    if (i < data.size()) sum += data[i];
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return ~uint32_t(sum) & 0xFFFF;
}

// ---- Digests ----------------------------------------------------------------

namespace {

// libcrypto is loaded on the first digest, not at start-up: its relocations
// would cost every run of the program, most of which compute no digest.
#define VYR_SONAME_NUMBER(n) #n
#define VYR_CRYPTO_SONAME(n) "libcrypto.so." VYR_SONAME_NUMBER(n)

struct Crypto {
    decltype(&EVP_md5) md5 = nullptr;
    decltype(&EVP_sha1) sha1 = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_sha384) sha384 = nullptr;
    decltype(&EVP_sha512) sha512 = nullptr;
    decltype(&EVP_MD_CTX_new) ctx_new = nullptr;
    decltype(&EVP_MD_CTX_free) ctx_free = nullptr;
    decltype(&EVP_DigestInit_ex) init = nullptr;
    decltype(&EVP_DigestUpdate) update = nullptr;
    decltype(&EVP_DigestFinal_ex) final = nullptr;
    bool loaded = false;

    Crypto() {
        SharedLibrary lib(VYR_CRYPTO_SONAME(OPENSSL_SHLIB_VERSION));
        lib.bind(md5, "EVP_md5");
        lib.bind(sha1, "EVP_sha1");
        lib.bind(sha256, "EVP_sha256");
        lib.bind(sha384, "EVP_sha384");
        lib.bind(sha512, "EVP_sha512");
        lib.bind(ctx_new, "EVP_MD_CTX_new");
        lib.bind(ctx_free, "EVP_MD_CTX_free");
        lib.bind(init, "EVP_DigestInit_ex");
        lib.bind(update, "EVP_DigestUpdate");
        lib.bind(final, "EVP_DigestFinal_ex");
        loaded = lib.complete();
    }
};

// The loaded library; a library that cannot be loaded fails the digest.
const Crypto& crypto() {
    static const Crypto c;
    if (!c.loaded) provider_failed();
    return c;
}

const EVP_MD* digest_algorithm(const Crypto& lib, int32_t c) {
    switch (c) {
    case code::md5: return lib.md5();
    case code::sha1: return lib.sha1();
    case code::sha256: return lib.sha256();
    case code::sha384: return lib.sha384();
    case code::sha512: return lib.sha512();
    default: raise_invalid_integer(c);
    }
}

// One digest computation on libcrypto; every call is checked, and the
// context is freed on every way out.
class Hasher {
public:
    explicit Hasher(int32_t c) : code_(c), lib_(crypto()), ctx_(lib_.ctx_new(), lib_.ctx_free) {
        const EVP_MD* md = digest_algorithm(lib_, c);
        if (!ctx_ || lib_.init(ctx_.get(), md, nullptr) != 1) provider_failed();
    }
    void update(Bytes data) {
        if (!data.empty() && lib_.update(ctx_.get(), data.data(), data.size()) != 1) provider_failed();
    }
    Digest finish() {
        Digest d;
        unsigned int n = 0;
        if (lib_.final(ctx_.get(), d.bytes.data(), &n) != 1 || n != digest_size(code_)) provider_failed();
        d.size = n;
        return d;
    }

private:
    int32_t code_;
    const Crypto& lib_;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
};

constexpr uint8_t hmac_inner_pad = 0x36;
constexpr uint8_t hmac_outer_pad = 0x5C;
constexpr size_t max_hmac_block = 128;

size_t hmac_block_size(int32_t c) { return (c == code::sha384 || c == code::sha512) ? 128 : 64; }
}  // namespace

Digest digest(Bytes data, int32_t c) {
    Hasher h(c);
    h.update(data);
    return h.finish();
}

// RFC 2104: H((K ^ opad) || H((K ^ ipad) || data)), K zero-padded to the
// block size and first replaced by its digest when it is longer.
Digest hmac(Bytes data, Bytes key, Method method) {
    if (method == Method::tcp || method == Method::crc32 || method == Method::adler32 || method == Method::hash) {
        platform::runtime_print_line({"The selected algorithm doesn't support HMAC calculation"});
        return Digest{};
    }
    int32_t c = method_code(method);
    size_t block = hmac_block_size(c);
    Digest hashed_key;
    if (key.size() > block) {
        hashed_key = digest(key, c);
        key = hashed_key.view();
    }
    std::array<uint8_t, max_hmac_block> inner_pad{}, outer_pad{};
    for (size_t i = 0; i < key.size(); i++) {
        inner_pad[i] = key[i];
        outer_pad[i] = key[i];
    }
    for (size_t i = 0; i < block; i++) {
        inner_pad[i] ^= hmac_inner_pad;
        outer_pad[i] ^= hmac_outer_pad;
    }
    Hasher inner(c);
    inner.update(Bytes(inner_pad.data(), block));
    inner.update(data);
    Digest inner_digest = inner.finish();
    Hasher outer(c);
    outer.update(Bytes(outer_pad.data(), block));
    outer.update(inner_digest.view());
    return outer.finish();
}

// ---- Table hash ---------------------------------------------------------------

int32_t hash_digest(Bytes data, int32_t table_size) {
    if (table_size < 1) raise_invalid_integer(table_size);
    return int32_t(hash::hash_bytes(data.data(), data.size()) % uint32_t(table_size));
}

// ---- Secure random ------------------------------------------------------------

void crypto_random(std::span<uint8_t> out) {
    while (!out.empty()) {
        ssize_t n = getrandom(out.data(), out.size(), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            provider_failed();
        }
        out = out.subspan(size_t(n));
    }
}

}  // namespace vyr::checksum
