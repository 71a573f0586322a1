// BMP, our own codec. Decoding takes the uncompressed layouts (1, 4, 8, 16,
// 24 and 32 bits per pixel, palettes and bit-field masks, rows bottom-up or
// top-down) after the core, info and V2-V5 headers; compressed layouts are
// refused. Encoding writes 32 bits per pixel with a V4 header and an alpha
// mask, rows bottom-up, so that alpha survives.
#include <algorithm>
#include <cstring>

#include "datatypes/image-backend/codecs.h"

namespace vyr::image_backend {

namespace {

constexpr uint32_t file_header_size = 14;
constexpr uint32_t core_header_size = 12;
constexpr uint32_t info_header_size = 40;
constexpr uint32_t v4_header_size = 108;
constexpr uint32_t bi_rgb = 0, bi_bitfields = 3, bi_alphabitfields = 6;
constexpr uint32_t srgb_colour_space = 0x73524742;  // "sRGB"
constexpr uint32_t pixels_per_metre = 2835;         // 72 dpi

uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

// One channel's mask: where it starts and how wide it is.
struct Channel {
    uint32_t mask = 0, shift = 0, bits = 0;
    explicit Channel(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1)) ++bits;
    }
    // The channel's value scaled to 0..255 (`missing` without a mask).
    uint32_t get(uint32_t v, uint32_t missing) const {
        if (!mask) return missing;
        uint32_t x = (v & mask) >> shift;
        uint32_t top = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        return uint32_t((uint64_t(x) * 255 + top / 2) / top);
    }
};

struct Header {
    int64_t width = 0, height = 0;
    uint32_t bits = 0, compression = 0, colours_used = 0;
    uint32_t header_size = 0;
    Channel r, g, b, a;
    bool top_down = false;
};

bool read_header(const uint8_t* data, size_t size, Header& h, size_t& palette_at) {
    if (size < file_header_size + 4) return false;
    h.header_size = u32(data + file_header_size);
    const uint8_t* p = data + file_header_size;
    if (h.header_size < core_header_size || size < file_header_size + size_t(h.header_size)) return false;
    palette_at = file_header_size + h.header_size;
    if (h.header_size == core_header_size) {
        h.width = u16(p + 4);
        h.height = u16(p + 6);
        h.bits = u16(p + 10);
        return true;
    }
    if (h.header_size < info_header_size) return false;
    h.width = int32_t(u32(p + 4));
    int64_t height = int32_t(u32(p + 8));
    h.top_down = height < 0;
    h.height = height < 0 ? -height : height;
    h.bits = u16(p + 14);
    h.compression = u32(p + 16);
    h.colours_used = u32(p + 32);
    if (h.compression == bi_bitfields || h.compression == bi_alphabitfields) {
        // The masks follow a 40-byte header; larger headers hold them.
        uint32_t masks = h.compression == bi_alphabitfields ? 4 : 3;
        const uint8_t* m = p + info_header_size;
        if (h.header_size == info_header_size) {
            if (size < palette_at + masks * 4) return false;
            palette_at += masks * 4;
        } else if (h.header_size < info_header_size + masks * 4) {
            return false;
        }
        h.r = Channel(u32(m));
        h.g = Channel(u32(m + 4));
        h.b = Channel(u32(m + 8));
        if (masks == 4 || h.header_size >= info_header_size + 16) h.a = Channel(u32(m + 12));
    } else if (h.bits == 16) {
        h.r = Channel(0x7C00);
        h.g = Channel(0x03E0);
        h.b = Channel(0x001F);
    } else if (h.bits == 32) {
        h.r = Channel(0x00FF0000);
        h.g = Channel(0x0000FF00);
        h.b = Channel(0x000000FF);
        h.a = Channel(0xFF000000);
    }
    return true;
}

bool decode_rows(const uint8_t* data, size_t size, const Header& h, size_t palette_at, Bitmap& out) {
    bool paletted = h.bits == 1 || h.bits == 4 || h.bits == 8;
    bool masked = h.bits == 16 || h.bits == 32;
    if (!paletted && !masked && h.bits != 24) return false;
    bool compressed = h.compression != bi_rgb && !(masked && (h.compression == bi_bitfields ||
                                                              h.compression == bi_alphabitfields));
    if (compressed) return false;
    uint32_t entry = h.header_size == core_header_size ? 3 : 4;
    uint32_t colours = 0;
    if (paletted) {
        colours = h.colours_used && h.colours_used < (1u << h.bits) ? h.colours_used : (1u << h.bits);
        if (size < palette_at + size_t(colours) * entry) return false;
    }
    uint32_t offset = u32(data + 10);
    size_t stride = (size_t(h.width) * h.bits + 31) / 32 * 4;
    if (offset > size || (size - offset) / std::max<size_t>(stride, 1) < size_t(h.height)) return false;
    bool any_alpha = false;
    for (int64_t row = 0; row < h.height; ++row) {
        const uint8_t* line = data + offset + size_t(row) * stride;
        int64_t y = h.top_down ? row : h.height - 1 - row;
        uint32_t* dst = &out.pixels[size_t(y) * out.width];
        for (int64_t x = 0; x < h.width; ++x) {
            if (paletted) {
                size_t bit = size_t(x) * h.bits;
                uint32_t index = (line[bit / 8] >> (8 - h.bits - bit % 8)) & ((1u << h.bits) - 1);
                if (index >= colours) index = 0;
                const uint8_t* c = data + palette_at + size_t(index) * entry;
                dst[x] = pixel_of(c[2], c[1], c[0], 255);
            } else if (h.bits == 24) {
                const uint8_t* c = line + x * 3;
                dst[x] = pixel_of(c[2], c[1], c[0], 255);
            } else {
                uint32_t v = h.bits == 16 ? u16(line + x * 2) : u32(line + x * 4);
                uint32_t a = h.a.get(v, 255);
                any_alpha |= h.a.mask && a != 0;
                dst[x] = pixel_of(h.r.get(v, 0), h.g.get(v, 0), h.b.get(v, 0), a);
            }
        }
    }
    // An alpha channel that is 0 everywhere was never filled in: opaque.
    if (h.a.mask && !any_alpha)
        for (uint32_t& p : out.pixels) p |= 0xFF000000;
    return true;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

Decoded decode_bmp(const uint8_t* data, size_t size) {
    Header h;
    size_t palette_at = 0;
    if (!read_header(data, size, h, palette_at) || h.width < 0) return Decoded{};
    // Data too short for the rows the header claims is damaged, whatever size
    // it claims.
    uint32_t offset = u32(data + 10);
    uint64_t stride = (uint64_t(h.width) * h.bits + 31) / 32 * 4;
    if (offset > size || (stride && (size - offset) / stride < uint64_t(h.height))) return Decoded{};
    Decoded d = sized(h.width, h.height);
    if (d.bitmap && !decode_rows(data, size, h, palette_at, *d.bitmap)) d.bitmap.reset();
    return d;
}

bool encode_bmp(const Bitmap& bitmap, std::vector<uint8_t>& out) {
    uint64_t pixel_bytes = bitmap.count() * 4;
    uint32_t offset = file_header_size + v4_header_size;
    if (pixel_bytes + offset > 0xFFFFFFFFu) return false;
    out.reserve(size_t(offset + pixel_bytes));
    out.push_back('B');
    out.push_back('M');
    put32(out, uint32_t(offset + pixel_bytes));
    put32(out, 0);
    put32(out, offset);
    put32(out, v4_header_size);
    put32(out, bitmap.width);
    put32(out, bitmap.height);  // positive: rows bottom-up, as every reader takes them
    put16(out, 1);
    put16(out, 32);
    put32(out, bi_bitfields);
    put32(out, uint32_t(pixel_bytes));
    put32(out, pixels_per_metre);
    put32(out, pixels_per_metre);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, srgb_colour_space);
    out.resize(out.size() + 36 + 12, 0);  // colour end points and gammas, unused with sRGB
    for (uint32_t row = bitmap.height; row-- > 0;) {
        const uint8_t* line = reinterpret_cast<const uint8_t*>(&bitmap.pixels[size_t(row) * bitmap.width]);
        out.insert(out.end(), line, line + size_t(bitmap.width) * 4);
    }
    return true;
}

}  // namespace vyr::image_backend
