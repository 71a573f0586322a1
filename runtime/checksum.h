// Checksums and message digests over bytes: the work behind the `checksum`
// native, and the CRC-32 and Adler-32 checks of the gzip and zlib framings.
//
// CRC-32 (reflected polynomial 0xEDB88320), Adler-32, the TCP checksum and the
// table hash are computed here. MD5, SHA-1, SHA-256, SHA-384 and SHA-512 come
// from libcrypto's EVP interface; HMAC (RFC 2104) is composed here over those
// digests. Secure random bytes come from the kernel (getrandom).
//
// The sums and digests depend only on the bytes they are given; the one piece
// of state is the CRC table, made on first use and kept. A digest answered is
// always the whole digest: a failure of libcrypto or of the kernel's random
// source raises internal error `feature-na` instead of answering whatever
// bytes the buffer held.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vyr::checksum {

using Bytes = std::span<const uint8_t>;

// The nine method words, in the order `checksum_init` interns them; a
// method's position in this list is its Method value.
enum class Method : uint8_t { tcp, md5, sha1, crc32, adler32, sha256, sha384, sha512, hash };
inline constexpr size_t method_count = 9;
inline constexpr std::array<std::string_view, method_count> method_names = {
    "tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash",
};

// Method codes of the digest routines (adler32 and hash have none).
namespace code {
inline constexpr int32_t tcp = 0;
inline constexpr int32_t crc32 = 1;
inline constexpr int32_t md5 = 2;
inline constexpr int32_t sha1 = 3;
inline constexpr int32_t sha256 = 4;
inline constexpr int32_t sha384 = 5;
inline constexpr int32_t sha512 = 6;
}  // namespace code

inline constexpr size_t max_digest_size = 64;

// The code of a method. adler32 and hash have none: asking for one ends the
// process with runtime error 100, so callers pick those two out first.
int32_t method_code(Method method);

// Digest size in bytes of a method code: 16, 20, 32, 48, 64 for md5 to
// sha512; 0 for tcp, crc32 and any other code.
uint32_t digest_size(int32_t code);

// The standard CRC-32: initial value 0xFFFFFFFF, final complement.
uint32_t crc32(Bytes data);

// The standard Adler-32: (b << 16) | a, 1 for no data.
uint32_t adler32(Bytes data);

// The 16-bit one's complement Internet checksum of the data taken as
// big-endian 16-bit words. An odd final byte is added as a low byte.
uint32_t tcp_checksum(Bytes data);

// A digest as it leaves the provider: `size` bytes of `bytes` are in use.
// An empty digest (size 0) is the refused HMAC.
struct Digest {
    std::array<uint8_t, max_digest_size> bytes{};
    uint32_t size = 0;
    Bytes view() const { return Bytes(bytes.data(), size); }
};

// The digest of the data for a method code. A code outside md5..sha512
// raises script error `invalid-arg` with the code.
Digest digest(Bytes data, int32_t code);

// The HMAC of the data under the key with a digest method. tcp, crc32,
// adler32 and hash are refused: the refusal line is printed and the digest
// answered is empty.
Digest hmac(Bytes data, Bytes key, Method method);

// The hash of the data for a hash table of `table_size` slots: a slot number
// in 0 .. table_size - 1 (what `checksum/with data 'hash n` answers). A size
// below 1 raises script error `invalid-arg` with the size.
int32_t hash_digest(Bytes data, int32_t table_size);

// Fills the buffer from the kernel's secure random source.
void crypto_random(std::span<uint8_t> out);

}  // namespace vyr::checksum
