// PNG through libpng's simplified interface, which reports failures by its
// return value (no long jump reaches our frames). libpng is opened on the
// first PNG (runtime/shared_library.h).
#include <png.h>

#include <cstring>

#include "datatypes/image-backend/codecs.h"
#include "runtime/shared_library.h"

namespace vyr::image_backend {

namespace {

#define PNG_ENTRIES(X) X(png_image_begin_read_from_memory) X(png_image_finish_read) X(png_image_free) \
    X(png_image_write_to_memory)

struct Png {
    PNG_ENTRIES(VYR_ENTRY)
};

// The entry points, or null when libpng cannot be had.
const Png* png_library() {
    return library_table<Png>(VYR_PNG_SONAME, [](SharedLibrary& lib, Png& t) { PNG_ENTRIES(VYR_BIND_ENTRY) });
}

}  // namespace

Decoded decode_png(const uint8_t* data, size_t size) {
    const Png* lib = png_library();
    if (!lib) return Decoded{};
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!lib->png_image_begin_read_from_memory(&image, data, size)) return Decoded{};
    Decoded d = sized(image.width, image.height);
    if (!d.bitmap) {
        lib->png_image_free(&image);
        return d;
    }
    image.format = PNG_FORMAT_BGRA;  // the bytes B, G, R, A: our pixel layout
    if (!lib->png_image_finish_read(&image, nullptr, d.bitmap->pixels.data(), int32_t(image.width * 4), nullptr)) {
        lib->png_image_free(&image);
        return Decoded{};
    }
    return d;
}

bool encode_png(const Bitmap& bitmap, std::vector<uint8_t>& out) {
    const Png* lib = png_library();
    if (!lib) return false;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = bitmap.width;
    image.height = bitmap.height;
    image.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    const void* pixels = bitmap.pixels.data();
    if (!lib->png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr)) return false;
    out.resize(size);
    return lib->png_image_write_to_memory(&image, out.data(), &size, 0, pixels, 0, nullptr) && (out.resize(size), true);
}

}  // namespace vyr::image_backend
