// The image back end: the pixels of every image! and the records that own them.
//
// A bitmap is our own buffer of 32-bit pixels, rows top to bottom without
// padding, each pixel the value 0xAARRGGBB (in memory the bytes B, G, R, A),
// alpha not premultiplied. It is a host object of the external-resource
// registry (kind "image"): the registry frees it once the collector finds no
// image! that uses it.
//
// An image! cell reaches its bitmap through an image bitmap record, a byte
// series of six 32-bit words (record_word below). The record lives as long
// as some image! cell holds its node; the collector's image hook marks the
// record's resource slot, so the bitmap lives exactly as long.
//
// Sizes: width and height are each 0..65535 (they pack into 16 bits of the
// cell) and width x height stays within the largest binary the pixels can be
// copied into; anything larger is refused with script `size-limit` rather
// than wrapped.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/cell.h"

namespace vyr::image_backend {

inline constexpr uint32_t max_side = 65535;
// The most pixels an image may have: its argb binary must fit in a series.
inline constexpr uint64_t max_pixels = 0x7FFFFFF0u / 4;

struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;  // width x height, 0xAARRGGBB

    uint64_t count() const { return uint64_t(width) * height; }
};

// The words of a record, in order.
enum record_word : uint32_t { rec_flags, rec_source, rec_lockable, rec_size, rec_resource, rec_cached, rec_words };

// Pixel <-> colour parts (T = 255 - A is the language's transparency).
inline uint32_t pixel_of(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return (a & 0xFF) << 24 | (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF);
}
inline uint8_t red(uint32_t p) { return uint8_t(p >> 16); }
inline uint8_t green(uint32_t p) { return uint8_t(p >> 8); }
inline uint8_t blue(uint32_t p) { return uint8_t(p); }
inline uint8_t alpha(uint32_t p) { return uint8_t(p >> 24); }

// Registers the resource kind "image" and installs the collector's image hook.
void image_codec_init();

// Whether a size can be held; `check_size` raises script `size-limit` with the
// pair w x h when it cannot.
bool size_fits(int64_t width, int64_t height);
void check_size(int64_t width, int64_t height);
// A new bitmap of that size with every pixel set to `fill` (the size is
// checked first; a failed allocation raises internal `no-memory`).
std::unique_ptr<Bitmap> new_bitmap(uint32_t width, uint32_t height, uint32_t fill);

// Makes a record for the bitmap and registers the bitmap as a resource of
// kind "image"; answers the record's node.
NodeId wrap_bitmap(std::unique_ptr<Bitmap> bitmap);
// The bitmap of a record (null for record 0).
Bitmap* bitmap_of(NodeId record);
uint32_t bitmap_width(NodeId record);
uint32_t bitmap_height(NodeId record);
// The packed size word of a record: width | height << 16.
uint32_t packed_size(NodeId record);

// Bytes of a binary handed to image_create (null pointer: not given).
struct Bytes {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// A bitmap of width x height: with rgb data, pixel i takes R, G, B from bytes
// 3i..3i+2 while the data lasts (white beyond it) and A = 255 - alpha byte i
// while the alpha lasts (else 255); without rgb but with a colour, every
// pixel is that colour (`colour` is 0xAARRGGBB); else white and opaque.
NodeId image_create(uint32_t width, uint32_t height, Bytes rgb, Bytes alpha, const uint32_t* colour);
// A new record holding a copy of the whole bitmap.
NodeId bitmap_copy(NodeId record);
// A new record holding the rectangle (cut to the bitmap).
NodeId bitmap_crop(NodeId record, uint32_t x, uint32_t y, uint32_t width, uint32_t height);
// A new record holding the bitmap scaled to width x height, nearest neighbour.
NodeId bitmap_scale(NodeId record, uint32_t width, uint32_t height);

}  // namespace vyr::image_backend
