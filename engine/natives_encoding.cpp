// The encoding and data-conversion natives: `dehex`, `enhex`, `to-hex`,
// `debase`, `enbase`, `checksum`, `compress` and `decompress`, and the byte
// helpers of engine/natives_io.h.
//
// Each native reads its arguments from the argument base (engine/natives.h),
// hands the bytes to a codec (url!'s percent codec, runtime/base_codecs.h,
// runtime/checksum.h, io/deflate.h) and leaves its result in the base. The
// codecs never see a series: they get byte spans, which stay valid because
// making the result series moves no other buffer.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/text_codec.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "engine/checksum_words.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "engine/natives_io.h"
#include "runtime/stack.h"
#include "io/deflate.h"
#include "io/files.h"
#include "runtime/base_codecs.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace vyr::natives_io {

ByteView binary_bytes(const Cell& binary) {
    memory::SeriesBuffer* b = memory::buffer_of(binary.w2);
    uint32_t index = std::min(binary.w1, b->used());
    return {b->head_ptr() + index, b->used() - index};
}

ByteView text_bytes(Cell& text) {
    int32_t length = -1;
    const uint8_t* p = text_codec::to_utf8(text, length);
    return {p, size_t(length)};
}

ByteView value_bytes(Cell& value) { return type_of(value) == type_binary ? binary_bytes(value) : text_bytes(value); }

Cell* make_binary_at(Cell& cell, const uint8_t* data, size_t size) {
    if (size > memory::max_series_bytes) raise_error(err_cat::internal, err_id::internal::no_memory);
    NodeId node = memory::alloc_bytes(uint32_t(size));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (size) std::memcpy(b->head_ptr(), data, size);
    b->tail = b->head + uint32_t(size);
    cell = Cell{type_binary, 0, node, 0};
    return &cell;
}

}  // namespace vyr::natives_io

namespace vyr::natives {

namespace {

using natives_io::ByteView;

// ---- Files read whole (checksum of a file!) -----------------------------------

// The bytes of the file, or `cannot-open` with the file value.
std::vector<uint8_t> read_whole_file(const Cell& file) {
    std::vector<uint8_t> bytes;
    if (!files::read_whole(file_t::to_local_path(file), bytes))
        raise_error(err_cat::access, err_id::access::cannot_open, &file);
    return bytes;
}

// ---- Base codecs -----------------------------------------------------------------

constexpr int32_t default_base = 64;

// The base of /base (at `position`, -1 when not used), checked.
int32_t base_of(int32_t position) {
    if (position < 0) return default_base;
    const Cell& b = arg(position);
    int32_t base = integer_t::get(b);
    if (base != 2 && base != 16 && base != 58 && base != 64) raise_invalid_arg(b);
    return base;
}

// The text room enbase reserves for n bytes, computed as the 32-bit
// signed arithmetic of the reference layout does; a step that overflows
// is `too-long`.
int32_t enbase_capacity(int32_t base, int64_t n) {
    int64_t room;
    switch (base) {
        case 64: room = (n / 3) * 4 + ((n % 3) * 4) / 3 + (n / 32) * 2 + 5; break;
        case 58: room = 2 * n; break;
        case 16: room = 2 * n + n / 32 + 32; break;
        default: room = 8 * n + (n / 8) * 2 + 4; break;
    }
    // Every term is non-negative, so the sum overflows when any step does.
    if (room > INT32_MAX) raise_error(err_cat::script, err_id::script::too_long);
    return int32_t(room);
}

}  // namespace

// ---- dehex, enhex, to-hex ----------------------------------------------------------

Status dehex(bool, const int32_t*) {
    Cell out;
    Cell value = arg(0);
    string_t::make_at(out, string_t::length_at(value));
    Cell* kept = stack::push_copy(out);  // rooted while the text is decoded
    url_t::percent_decode(arg(0), *kept);
    return answer(*kept);
}

Status enhex(bool, const int32_t*) {
    Cell out;
    Cell value = arg(0);
    string_t::make_at(out, string_t::length_at(value));
    Cell* kept = stack::push_copy(out);
    int32_t mode = type_of(arg(0)) == type_string ? url_t::mode_unreserved : url_t::mode_url;
    url_t::percent_encode(arg(0), *kept, mode);
    return answer(*kept);
}

// The integer as 8 upper-case hex digits; /size keeps the last `length`
// digits (all 8 when length is above 8). The digits become an issue!.
Status to_hex(bool, const int32_t* refs) {
    constexpr int32_t all_digits = 8;
    string_t::HexDigits hex = string_t::integer_to_hex(integer_t::get(arg(0)), false);
    int32_t keep = all_digits;
    if (refs[0] >= 0) {
        const Cell& length = arg(refs[0]);
        keep = integer_t::get(length);
        if (keep <= 0) raise_invalid_arg(length);
        keep = std::min(keep, all_digits);
    }
    Cell issue;
    issue_t::make_at(&issue, hex.text + (all_digits - keep));
    return answer(issue);
}

// ---- debase, enbase -------------------------------------------------------------------

// A new binary! of the decoded text, or none when the text is not valid in
// the base.
Status debase(bool, const int32_t* refs) {
    int32_t base = base_of(refs[0]);
    Cell text = arg(0);
    uint32_t count = string_t::length_at(text);
    memory::SeriesBuffer* b = string_t::buffer_of(text);
    const uint8_t* units = b->head_ptr() + size_t(text.w1) * b->unit();
    NodeId node = binary_t::decode_base(base, units, count, b->unit());
    return answer(node == no_node ? none_t::value : binary_t::make_cell(node));
}

// The bytes (a binary! from its index, a string! as UTF-8) as base text in
// a new string!.
Status enbase(bool, const int32_t* refs) {
    int32_t base = base_of(refs[0]);
    ByteView in = natives_io::value_bytes(arg(0));
    int32_t room = enbase_capacity(base, int64_t(in.size));
    NodeId node = memory::alloc_bytes(uint32_t(std::max<uint64_t>(room, binary_t::encoded_room(base, uint32_t(in.size)))));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    char* start = reinterpret_cast<char*>(b->head_ptr());
    char* end = binary_t::encode_base(base, start, in.data, uint32_t(in.size));
    b->tail = b->head + uint32_t(end - start);
    return answer(string_t::make_cell(node));
}

// ---- checksum ---------------------------------------------------------------------------

// checksum data method /with key. The 32-bit sums answer an integer!, the
// digests a binary!, an HMAC (string or binary key) a binary!, an integer!
// key the table hash of the data for that table size, as integer!.
Status checksum(bool, const int32_t* refs) {
    using checksum::Method;
    const Cell& method_word = arg(1);
    Method method;
    if (!checksum::method_of_symbol(int32_t(method_word.w2), method)) raise_invalid_arg(method_word);
    bool sum = method == Method::crc32 || method == Method::tcp || method == Method::adler32;
    bool with = refs[0] >= 0;
    if (with && sum) raise_error(err_cat::script, err_id::script::invalid_refine_arg, &fixed::ref_with, &method_word);
    if (!with && method == Method::hash)
        raise_error(err_cat::script, err_id::script::invalid_refine_arg, &fixed::ref_with, &method_word);

    std::vector<uint8_t> file_bytes;
    ByteView data{};
    uint32_t data_type = type_of(arg(0));
    if (data_type == type_file) {
        file_bytes = read_whole_file(arg(0));
        data = {file_bytes.data(), file_bytes.size()};
    } else if (data_type == type_string || data_type == type_binary) {
        data = natives_io::value_bytes(arg(0));
    } else {
        raise_invalid_arg(arg(0));
    }
    checksum::Bytes bytes(data.data, data.size);

    Cell result;
    if (sum) {
        uint32_t v = method == Method::crc32 ? checksum::crc32(bytes)
                     : method == Method::tcp ? checksum::tcp_checksum(bytes)
                                             : checksum::adler32(bytes);
        integer_t::make_at(&result, int32_t(v));
        return answer(result);
    }
    if (!with) {
        checksum::Digest d = checksum::digest(bytes, checksum::method_code(method));
        return answer(*natives_io::make_binary_at(result, d.bytes.data(), d.size));
    }
    Cell& key_arg = arg(refs[0]);
    uint32_t key_type = type_of(key_arg);
    if (key_type == type_integer) {
        // The table hash answers a value for every method that reaches here.
        integer_t::make_at(&result, checksum::hash_digest(bytes, integer_t::get(key_arg)));
        return answer(result);
    }
    if (!string_t::string_like_q(key_type) && key_type != type_binary) raise_invalid_arg(key_arg);
    if (method == Method::hash)
        raise_error(err_cat::script, err_id::script::invalid_refine_arg, &fixed::ref_with, &key_arg);
    // The key is copied out first: a key and a data text made from the same
    // string share one conversion buffer, which converting the other rewrites.
    ByteView key_view = natives_io::value_bytes(key_arg);
    std::vector<uint8_t> key(key_view.data, key_view.data + key_view.size);
    if (data_type != type_file) data = natives_io::value_bytes(arg(0));
    checksum::Digest d = checksum::hmac(checksum::Bytes(data.data, data.size), checksum::Bytes(key), method);
    return answer(*natives_io::make_binary_at(result, d.bytes.data(), d.size));
}

// ---- compress, decompress ------------------------------------------------------------------

namespace {

deflate::Framing framing_of(const Cell& method_word) {
    deflate::Framing f;
    if (!deflate::framing_of_symbol(int32_t(method_word.w2), f)) raise_invalid_arg(method_word);
    return f;
}

deflate::Status compress_into(deflate::Framing f, std::span<uint8_t> out, size_t& size, ByteView in) {
    std::span<const uint8_t> src(in.data, in.size);
    switch (f) {
        case deflate::Framing::zlib: return deflate::zlib_compress(out, size, src);
        case deflate::Framing::deflate: return deflate::deflate_compress(out, size, src);
        default: return deflate::gzip_compress(out, size, src);
    }
}

}  // namespace

// The data (a binary! from its index, text as UTF-8) compressed into a new
// binary! of data length + 32 bytes; when that is too small, once more into
// one of the size the compressor asked for.
Status compress(bool, const int32_t*) {
    deflate::Framing f = framing_of(arg(1));
    ByteView in = natives_io::value_bytes(arg(0));
    constexpr size_t slack = 32;
    size_t capacity = in.size + slack;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (capacity > memory::max_series_bytes) raise_error(err_cat::internal, err_id::internal::no_memory);
        NodeId node = memory::alloc_bytes(uint32_t(capacity));
        memory::SeriesBuffer* b = memory::buffer_of(node);
        size_t size = 0;
        deflate::Status s = compress_into(f, std::span<uint8_t>(b->head_ptr(), capacity), size, in);
        if (s == deflate::Status::ok) {
            b->tail = b->head + uint32_t(size);
            return answer(Cell{type_binary, 0, node, 0});
        }
        if (s != deflate::Status::output_too_small) break;
        capacity = size;
    }
    raise_error(err_cat::script, err_id::script::invalid_data, &arg(0));
}

// The bytes of the binary! decompressed into a new binary!. The output grows
// as the stream produces it, so a size given by /size, or read from a gzip
// trailer, only steers the first allocation and never the result; a stream
// that is corrupt, cut short or followed by stray bytes is `invalid-data`.
Status decompress(bool, const int32_t*) {
    deflate::Framing f = framing_of(arg(1));
    ByteView in = natives_io::binary_bytes(arg(0));
    std::span<const uint8_t> src(in.data, in.size);
    deflate::Decoded d = f == deflate::Framing::zlib      ? deflate::zlib_decompress(src)
                         : f == deflate::Framing::deflate ? deflate::inflate(src)
                                                          : deflate::gzip_decompress(src);
    if (d.status != deflate::Status::ok) raise_error(err_cat::script, err_id::script::invalid_data, &arg(0));
    Cell result;
    return answer(*natives_io::make_binary_at(result, d.bytes.data(), d.bytes.size()));
}

}  // namespace vyr::natives
