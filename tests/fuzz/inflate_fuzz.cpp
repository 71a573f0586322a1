// Fuzz target for the decompressor. The input is read as a raw stream, as a
// zlib stream and as a gzip member (the same bytes behind a fixed header, the
// first byte as the gzip flags), through both the vector and the buffer
// forms. Whatever decodes must come back unchanged through our own compressor
// in all three framings.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "io/deflate.h"

namespace dfl = vyr::deflate;

namespace {

// Keeps each run short: a stream of a few KB can expand a thousandfold.
constexpr size_t limit = size_t(1) << 24;

void check(bool ok) {
    if (!ok) std::abort();
}

void round_trip(const std::vector<uint8_t>& bytes) {
    check(dfl::inflate(dfl::deflate_compress(bytes), limit).bytes == bytes);
    check(dfl::zlib_decompress(dfl::zlib_compress(bytes), limit).bytes == bytes);
    check(dfl::gzip_decompress(dfl::gzip_compress(bytes), limit).bytes == bytes);
}

void decode(std::span<const uint8_t> in, dfl::Decoded (*fn)(std::span<const uint8_t>, size_t)) {
    dfl::Decoded r = fn(in, limit);
    check(r.status == dfl::Status::ok || r.bytes.empty());
    if (r.status == dfl::Status::ok && r.bytes.size() <= 65536) round_trip(r.bytes);
}

std::vector<uint8_t> behind(std::initializer_list<uint8_t> header, std::span<const uint8_t> in) {
    std::vector<uint8_t> v(header);
    v.insert(v.end(), in.begin(), in.end());
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> in(data, size);
    decode(in, dfl::inflate);
    decode(in, dfl::zlib_decompress);
    decode(in, dfl::gzip_decompress);
    decode(behind({0x78, 0x9C}, in), dfl::zlib_decompress);
    if (size > 0)  // the first byte as the flags, so the optional header fields are reached
        decode(behind({0x1F, 0x8B, 0x08, data[0], 0, 0, 0, 0, 0, 3}, in.subspan(1)), dfl::gzip_decompress);

    // The buffer form with a small buffer agrees with the vector form.
    uint8_t small[64];
    size_t n = 0;
    dfl::Decoded r = dfl::inflate(in, dfl::max_output);
    dfl::Status s = dfl::inflate(std::span(small), n, in);
    if (r.status == dfl::Status::ok) {
        check(n == r.bytes.size());
        check(s == (n <= sizeof small ? dfl::Status::ok : dfl::Status::output_too_small));
    } else {
        check(s == r.status);
    }

    // The input as plain data for the compressor.
    if (size <= 65536) round_trip(std::vector<uint8_t>(in.begin(), in.end()));
    return 0;
}
