// PNG through libpng's simplified interface, which reports failures by its
// return value (no long jump reaches our frames).
#include <png.h>

#include <cstring>

#include "datatypes/image-backend/codecs.h"

namespace vyr::image_backend {

Decoded decode_png(const uint8_t* data, size_t size) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) return Decoded{};
    Decoded d = sized(image.width, image.height);
    if (!d.bitmap) {
        png_image_free(&image);
        return d;
    }
    image.format = PNG_FORMAT_BGRA;  // the bytes B, G, R, A: our pixel layout
    if (!png_image_finish_read(&image, nullptr, d.bitmap->pixels.data(), int32_t(image.width * 4), nullptr)) {
        png_image_free(&image);
        return Decoded{};
    }
    return d;
}

bool encode_png(const Bitmap& bitmap, std::vector<uint8_t>& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = bitmap.width;
    image.height = bitmap.height;
    image.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    const void* pixels = bitmap.pixels.data();
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr)) return false;
    out.resize(size);
    return png_image_write_to_memory(&image, out.data(), &size, 0, pixels, 0, nullptr) && (out.resize(size), true);
}

}  // namespace vyr::image_backend
