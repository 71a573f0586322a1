// Bitmaps, their records and the resource kind "image" (see bitmap.h).
#include "datatypes/image-backend/bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "datatypes/pair.h"
#include "runtime/collector.h"
#include "runtime/error_catalog.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/resources.h"

namespace vyr::image_backend {

namespace {

uint32_t image_kind = 0;

uint32_t record_get(NodeId record, record_word w) {
    uint32_t v;
    std::memcpy(&v, memory::buffer_of(record)->head_ptr() + w * 4, 4);
    return v;
}

void record_set(NodeId record, record_word w, uint32_t v) {
    std::memcpy(memory::buffer_of(record)->head_ptr() + w * 4, &v, 4);
}

void release_bitmap(void* object) { delete static_cast<Bitmap*>(object); }

// The collector's hook for an image! cell: its record's resource lives on.
void mark_record(NodeId record) {
    resources::mark_external_resource(int32_t(record_get(record, rec_resource)), nullptr);
}

[[noreturn]] void raise_no_memory() { raise_error(err_cat::internal, err_id::internal::no_memory); }

}  // namespace

void image_codec_init() {
    image_kind = resources::register_resource_kind("image", release_bitmap);
    collector::set_image_marker(mark_record);
}

bool size_fits(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width <= max_side && height <= max_side &&
           uint64_t(width) * uint64_t(height) <= max_pixels;
}

void check_size(int64_t width, int64_t height) {
    if (size_fits(width, height)) return;
    Cell size = pair_t::cell_of(int32_t(std::clamp<int64_t>(width, INT32_MIN, INT32_MAX)),
                                int32_t(std::clamp<int64_t>(height, INT32_MIN, INT32_MAX)));
    raise_error(err_cat::script, err_id::script::size_limit, &size);
}

std::unique_ptr<Bitmap> new_bitmap(uint32_t width, uint32_t height, uint32_t fill) {
    check_size(width, height);
    try {
        auto b = std::make_unique<Bitmap>();
        b->width = width;
        b->height = height;
        b->pixels.assign(size_t(width) * height, fill);
        return b;
    } catch (const std::bad_alloc&) {
        raise_no_memory();
    }
}

NodeId wrap_bitmap(std::unique_ptr<Bitmap> bitmap) {
    NodeId record = memory::alloc_filled_bytes(rec_words * 4, 0);
    memory::SeriesBuffer* b = memory::buffer_of(record);
    b->tail = b->head + rec_words * 4;
    record_set(record, rec_size, bitmap->width | bitmap->height << 16);
    int32_t slot = resources::add_external_resource(bitmap.release(), image_kind);
    record_set(record, rec_resource, uint32_t(slot));
    return record;
}

Bitmap* bitmap_of(NodeId record) {
    if (record == no_node) return nullptr;
    return static_cast<Bitmap*>(resources::external_object(int32_t(record_get(record, rec_resource))));
}

uint32_t packed_size(NodeId record) { return record == no_node ? 0 : record_get(record, rec_size); }
uint32_t bitmap_width(NodeId record) { return packed_size(record) & 0xFFFF; }
uint32_t bitmap_height(NodeId record) { return packed_size(record) >> 16; }

NodeId image_create(uint32_t width, uint32_t height, Bytes rgb, Bytes alpha, const uint32_t* colour) {
    uint32_t fill = 0xFFFFFFFF;
    if (!rgb.data && colour) fill = *colour;
    auto b = new_bitmap(width, height, fill);
    uint64_t n = b->count();
    if (rgb.data) {
        for (uint64_t i = 0; i < n && 3 * i + 2 < rgb.size; ++i) {
            const uint8_t* c = rgb.data + 3 * i;
            b->pixels[i] = pixel_of(c[0], c[1], c[2], 255);
        }
    }
    if (alpha.data) {
        for (uint64_t i = 0; i < n && i < alpha.size; ++i)
            b->pixels[i] = (b->pixels[i] & 0x00FFFFFF) | uint32_t(255 - alpha.data[i]) << 24;
    }
    return wrap_bitmap(std::move(b));
}

NodeId bitmap_copy(NodeId record) {
    Bitmap* src = bitmap_of(record);
    auto b = new_bitmap(src->width, src->height, 0);
    b->pixels = src->pixels;
    return wrap_bitmap(std::move(b));
}

NodeId bitmap_crop(NodeId record, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    const Bitmap* src = bitmap_of(record);
    x = std::min(x, src->width);
    y = std::min(y, src->height);
    width = std::min(width, src->width - x);
    height = std::min(height, src->height - y);
    auto b = new_bitmap(width, height, 0);
    src = bitmap_of(record);
    for (uint32_t r = 0; r < height; ++r)
        std::copy_n(&src->pixels[size_t(y + r) * src->width + x], width, &b->pixels[size_t(r) * width]);
    return wrap_bitmap(std::move(b));
}

NodeId bitmap_scale(NodeId record, uint32_t width, uint32_t height) {
    auto b = new_bitmap(width, height, 0);
    const Bitmap* src = bitmap_of(record);
    if (src->width && src->height) {
        for (uint32_t r = 0; r < height; ++r) {
            uint32_t sy = uint32_t(uint64_t(r) * src->height / height);
            for (uint32_t c = 0; c < width; ++c) {
                uint32_t sx = uint32_t(uint64_t(c) * src->width / width);
                b->pixels[size_t(r) * width + c] = src->pixels[size_t(sy) * src->width + sx];
            }
        }
    }
    return wrap_bitmap(std::move(b));
}

}  // namespace vyr::image_backend
