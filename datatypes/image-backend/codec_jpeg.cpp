// JPEG through libjpeg-turbo. The library reports a fatal error through its
// error_exit callback, which must not return: ours jumps back to the one
// function that set up the jump, whose frame holds no C++ object with a
// destructor between the setjmp and the library calls. libjpeg is opened on
// the first JPEG (runtime/shared_library.h).
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "datatypes/image-backend/codecs.h"
#include "runtime/shared_library.h"

namespace vyr::image_backend {

namespace {

#define JPEG_ENTRIES(X) X(jpeg_std_error) X(jpeg_CreateDecompress) X(jpeg_CreateCompress) X(jpeg_destroy_decompress) \
    X(jpeg_destroy_compress) X(jpeg_mem_src) X(jpeg_mem_dest) X(jpeg_read_header) X(jpeg_calc_output_dimensions) \
    X(jpeg_start_decompress) X(jpeg_read_scanlines) X(jpeg_finish_decompress) X(jpeg_set_defaults) \
    X(jpeg_set_quality) X(jpeg_start_compress) X(jpeg_write_scanlines) X(jpeg_finish_compress)

struct Jpeg {
    JPEG_ENTRIES(VYR_ENTRY)
};

// The entry points, or null when libjpeg cannot be had.
const Jpeg* jpeg_library() {
    return library_table<Jpeg>(VYR_JPEG_SONAME, [](SharedLibrary& lib, Jpeg& t) { JPEG_ENTRIES(VYR_BIND_ENTRY) });
}

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool cut_short;  // the data ended before the image did
};

void error_exit(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void output_message(j_common_ptr) {}  // warnings stay quiet
// The library fills the rest of a cut-short image with grey and goes on;
// we take such data as damaged.
void emit_message(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) reinterpret_cast<ErrorManager*>(info->err)->cut_short = true;
}

void set_up(jpeg_error_mgr* pub, ErrorManager& err) {
    pub->error_exit = error_exit;
    pub->output_message = output_message;
    pub->emit_message = emit_message;
    err.cut_short = false;
}

// Reads the header, sizes `d` from it and decodes into its bitmap; answers
// false on any library error. A size too large leaves `d` without a bitmap.
// Plain C state only: the jump may leave at any call.
bool read_jpeg(const Jpeg& lib, const uint8_t* data, size_t size, Decoded& d) {
    jpeg_decompress_struct info;
    ErrorManager err;
    info.err = lib.jpeg_std_error(&err.pub);
    set_up(&err.pub, err);
    if (setjmp(err.jump)) {
        lib.jpeg_destroy_decompress(&info);
        return false;
    }
    lib.jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof info);
    lib.jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    lib.jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;  // our pixel layout, A = 255
    lib.jpeg_calc_output_dimensions(&info);
    d = sized(info.output_width, info.output_height);
    if (!d.bitmap) {
        lib.jpeg_destroy_decompress(&info);
        return true;
    }
    lib.jpeg_start_decompress(&info);
    if (d.bitmap->width != info.output_width || d.bitmap->height != info.output_height) {
        lib.jpeg_destroy_decompress(&info);
        return false;
    }
    uint8_t* base = reinterpret_cast<uint8_t*>(d.bitmap->pixels.data());
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = base + size_t(info.output_scanline) * info.output_width * 4;
        lib.jpeg_read_scanlines(&info, &row, 1);
    }
    lib.jpeg_finish_decompress(&info);
    lib.jpeg_destroy_decompress(&info);
    return !err.cut_short;
}

bool write_jpeg(const Jpeg& lib, const Bitmap& bitmap, unsigned char** buffer, unsigned long* length) {
    jpeg_compress_struct info;
    ErrorManager err;
    info.err = lib.jpeg_std_error(&err.pub);
    set_up(&err.pub, err);
    if (setjmp(err.jump)) {
        lib.jpeg_destroy_compress(&info);
        return false;
    }
    lib.jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof info);
    lib.jpeg_mem_dest(&info, buffer, length);
    info.image_width = bitmap.width;
    info.image_height = bitmap.height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRA;  // alpha is dropped: JPEG has none
    lib.jpeg_set_defaults(&info);
    lib.jpeg_set_quality(&info, 90, TRUE);
    lib.jpeg_start_compress(&info, TRUE);
    const uint8_t* base = reinterpret_cast<const uint8_t*>(bitmap.pixels.data());
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(base + size_t(info.next_scanline) * bitmap.width * 4);
        lib.jpeg_write_scanlines(&info, &row, 1);
    }
    lib.jpeg_finish_compress(&info);
    lib.jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

Decoded decode_jpeg(const uint8_t* data, size_t size) {
    const Jpeg* lib = jpeg_library();
    Decoded d;
    if (!lib || !read_jpeg(*lib, data, size, d)) return Decoded{};
    return d;
}

bool encode_jpeg(const Bitmap& bitmap, std::vector<uint8_t>& out) {
    const Jpeg* lib = jpeg_library();
    if (!lib) return false;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    bool ok = write_jpeg(*lib, bitmap, &buffer, &length);
    if (ok) out.assign(buffer, buffer + length);
    std::free(buffer);
    return ok;
}

}  // namespace vyr::image_backend
