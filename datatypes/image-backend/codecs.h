// Image file formats: BMP, PNG, GIF, JPEG and TIFF, decoded into bitmaps and
// encoded from them.
//
// PNG, JPEG, GIF and TIFF go through the host's libraries (libpng,
// libjpeg-turbo, giflib, libtiff); BMP is our own small codec. Every decoder
// reads from memory, checks the size before it allocates, and answers no
// bitmap for data it cannot read (damaged, cut short, an unsupported
// variant): nothing here raises, so no language error crosses a library's C
// frames. Only the first frame of a multi-frame file is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/image-backend/bitmap.h"

namespace vyr::image_backend {

// The format numbers: the codec objects pass these.
enum ImageFormat : int32_t { fmt_bmp = 0, fmt_png = 1, fmt_gif = 2, fmt_jpeg = 3, fmt_tiff = 4 };

// What a decoder answers: a bitmap, or none; `too_large` with the size read
// from the header when the image is valid but bigger than an image can be.
struct Decoded {
    std::unique_ptr<Bitmap> bitmap;
    bool too_large = false;
    int64_t width = 0;
    int64_t height = 0;
};

// The format the first bytes announce, or -1: 0x89 "PNG"; FF D8 FF; "BM";
// "GIF87a" or "GIF89a"; "II*" 0; "MM" 0 "*".
int32_t format_of_signature(const uint8_t* data, size_t size);
// Decodes data of any of the five formats (chosen by its signature).
Decoded decode_memory(const uint8_t* data, size_t size);
// Encodes the bitmap; false when the library failed or the format is not one
// of the five.
bool encode_bitmap(const Bitmap& bitmap, int32_t format, std::vector<uint8_t>& out);
// Reads a whole file; false when it cannot be read.
bool read_file(const std::string& path, std::vector<uint8_t>& out);

// The decoders and encoders of each format (codec_<format>.cpp).
Decoded decode_png(const uint8_t* data, size_t size);
Decoded decode_jpeg(const uint8_t* data, size_t size);
Decoded decode_gif(const uint8_t* data, size_t size);
Decoded decode_tiff(const uint8_t* data, size_t size);
Decoded decode_bmp(const uint8_t* data, size_t size);
bool encode_png(const Bitmap& bitmap, std::vector<uint8_t>& out);
bool encode_jpeg(const Bitmap& bitmap, std::vector<uint8_t>& out);
bool encode_gif(const Bitmap& bitmap, std::vector<uint8_t>& out);
bool encode_tiff(const Bitmap& bitmap, std::vector<uint8_t>& out);
bool encode_bmp(const Bitmap& bitmap, std::vector<uint8_t>& out);

// A decoder's answer for a header that gives this size: `too_large` when the
// size cannot be held, else a bitmap of it (opaque black), or none when the
// memory cannot be had.
Decoded sized(int64_t width, int64_t height);

}  // namespace vyr::image_backend
