// Choosing a codec by signature, and reading a file (see codecs.h).
#include "datatypes/image-backend/codecs.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace vyr::image_backend {

namespace {
bool starts_with(const uint8_t* data, size_t size, const char* magic, size_t n) {
    return size >= n && std::memcmp(data, magic, n) == 0;
}
}  // namespace

int32_t format_of_signature(const uint8_t* data, size_t size) {
    if (starts_with(data, size, "\x89PNG", 4)) return fmt_png;
    if (starts_with(data, size, "\xFF\xD8\xFF", 3)) return fmt_jpeg;
    if (starts_with(data, size, "BM", 2)) return fmt_bmp;
    if (starts_with(data, size, "GIF87a", 6) || starts_with(data, size, "GIF89a", 6)) return fmt_gif;
    if (starts_with(data, size, "II*\0", 4) || starts_with(data, size, "MM\0*", 4)) return fmt_tiff;
    return -1;
}

Decoded decode_memory(const uint8_t* data, size_t size) {
    switch (format_of_signature(data, size)) {
        case fmt_png: return decode_png(data, size);
        case fmt_jpeg: return decode_jpeg(data, size);
        case fmt_bmp: return decode_bmp(data, size);
        case fmt_gif: return decode_gif(data, size);
        case fmt_tiff: return decode_tiff(data, size);
        default: return Decoded{};
    }
}

bool encode_bitmap(const Bitmap& bitmap, int32_t format, std::vector<uint8_t>& out) {
    out.clear();
    try {
        switch (format) {
            case fmt_bmp: return encode_bmp(bitmap, out);
            case fmt_png: return encode_png(bitmap, out);
            case fmt_gif: return encode_gif(bitmap, out);
            case fmt_jpeg: return encode_jpeg(bitmap, out);
            case fmt_tiff: return encode_tiff(bitmap, out);
            default: return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool read_file(const std::string& path, std::vector<uint8_t>& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    uint8_t chunk[65536];
    size_t n;
    bool ok = true;
    try {
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    ok = ok && !std::ferror(f);
    std::fclose(f);
    return ok;
}

Decoded sized(int64_t width, int64_t height) {
    Decoded d;
    d.width = width;
    d.height = height;
    if (!size_fits(width, height)) {
        d.too_large = true;
        return d;
    }
    try {
        d.bitmap = std::make_unique<Bitmap>();
        d.bitmap->width = uint32_t(width);
        d.bitmap->height = uint32_t(height);
        d.bitmap->pixels.assign(size_t(width) * size_t(height), 0xFF000000);
    } catch (const std::bad_alloc&) {
        d.bitmap.reset();
    }
    return d;
}

}  // namespace vyr::image_backend
