#include "engine/checksum.h"

#include <openssl/evp.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/hash.h"
#include "runtime/platform.h"
#include "runtime/runtime_error.h"

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

// Entry n: n shifted right 8 times, XORing the polynomial after each shift
// that drops a 1 bit.
std::array<uint32_t, 256> make_crc_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ crc_polynomial : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr uint32_t adler_modulus = 65521;
// Bytes summed between reductions, small enough that b stays below 2^31.
constexpr size_t adler_block = 3854;
}  // namespace

uint32_t crc32(Bytes data) {
    static const std::array<uint32_t, 256> table = make_crc_table();
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : data) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t adler32(Bytes data) {
    uint32_t a = 1, b = 0;
    while (!data.empty()) {
        size_t n = std::min(data.size(), adler_block);
        for (uint8_t byte : data.first(n)) {
            a += byte;
            b += a;
        }
        a %= adler_modulus;
        b %= adler_modulus;
        data = data.subspan(n);
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
const EVP_MD* digest_algorithm(int32_t c) {
    switch (c) {
    case code::md5: return EVP_md5();
    case code::sha1: return EVP_sha1();
    case code::sha256: return EVP_sha256();
    case code::sha384: return EVP_sha384();
    case code::sha512: return EVP_sha512();
    default: raise_invalid_integer(c);
    }
}

// One digest computation on libcrypto; every call is checked, and the
// context is freed on every way out.
class Hasher {
public:
    explicit Hasher(int32_t c) : code_(c), ctx_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
        const EVP_MD* md = digest_algorithm(c);
        if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), md, nullptr) != 1) provider_failed();
    }
    void update(Bytes data) {
        if (!data.empty() && EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) != 1) provider_failed();
    }
    Digest finish() {
        Digest d;
        unsigned int n = 0;
        if (EVP_DigestFinal_ex(ctx_.get(), d.bytes.data(), &n) != 1 || n != digest_size(code_)) provider_failed();
        d.size = n;
        return d;
    }

private:
    int32_t code_;
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
