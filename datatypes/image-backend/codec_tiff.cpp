// TIFF through libtiff, over memory streams. Decoding reads the first
// directory: 8-bit RGB or RGBA with straight alpha is read as it is stored;
// every other layout goes through libtiff's RGBA reader, whose associated
// alpha is undone. Encoding writes 8-bit RGBA, straight alpha, LZW. libtiff
// is opened on the first TIFF (runtime/shared_library.h).
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "datatypes/image-backend/codecs.h"
#include "runtime/shared_library.h"

namespace vyr::image_backend {

namespace {

#define TIFF_ENTRIES(X) X(TIFFClientOpen) X(TIFFClose) X(TIFFSetErrorHandler) X(TIFFSetWarningHandler) \
    X(TIFFGetField) X(TIFFGetFieldDefaulted) X(TIFFIsTiled) X(TIFFScanlineSize) X(TIFFReadScanline) \
    X(TIFFReadRGBAImageOriented) X(TIFFSetField) X(TIFFDefaultStripSize) X(TIFFWriteScanline) X(TIFFWriteDirectory)

struct Tiff {
    TIFF_ENTRIES(VYR_ENTRY)
};

// The entry points, or null when libtiff cannot be had.
const Tiff* tiff_library() {
    return library_table<Tiff>(VYR_TIFF_SONAME, [](SharedLibrary& lib, Tiff& t) { TIFF_ENTRIES(VYR_BIND_ENTRY) });
}

// A stream over bytes in memory: reading from the input, or writing into a
// growing vector (with seeks, which the writer needs).
struct Stream {
    const uint8_t* input = nullptr;
    std::vector<uint8_t>* output = nullptr;
    size_t size = 0;
    size_t at = 0;
};

tmsize_t stream_read(thandle_t h, void* into, tmsize_t n) {
    auto* s = static_cast<Stream*>(h);
    if (!s->input || n < 0) return -1;
    size_t k = std::min(size_t(n), s->at < s->size ? s->size - s->at : 0);
    std::memcpy(into, s->input + s->at, k);
    s->at += k;
    return tmsize_t(k);
}

tmsize_t stream_write(thandle_t h, void* from, tmsize_t n) {
    auto* s = static_cast<Stream*>(h);
    if (!s->output || n < 0) return -1;
    size_t end = s->at + size_t(n);
    if (end > s->output->size()) s->output->resize(end);
    std::memcpy(s->output->data() + s->at, from, size_t(n));
    s->at = end;
    s->size = std::max(s->size, end);
    return n;
}

toff_t stream_seek(thandle_t h, toff_t offset, int whence) {
    auto* s = static_cast<Stream*>(h);
    int64_t base = whence == SEEK_CUR ? int64_t(s->at) : whence == SEEK_END ? int64_t(s->size) : 0;
    int64_t to = base + int64_t(offset);
    if (to < 0) return toff_t(-1);
    s->at = size_t(to);
    return toff_t(to);
}

int stream_close(thandle_t) { return 0; }
toff_t stream_size(thandle_t h) { return static_cast<Stream*>(h)->size; }
int no_map(thandle_t, void**, toff_t*) { return 0; }
void no_unmap(thandle_t, void*, toff_t) {}

TIFF* open_stream(const Tiff& lib, Stream& s, const char* mode) {
    // libtiff prints its complaints by default; a damaged file is reported
    // by our answer instead.
    lib.TIFFSetErrorHandler(nullptr);
    lib.TIFFSetWarningHandler(nullptr);
    return lib.TIFFClientOpen("memory", mode, &s, stream_read, stream_write, stream_seek, stream_close, stream_size,
                              no_map, no_unmap);
}

// 8-bit RGB or RGBA (straight alpha), pixels interleaved: read as stored.
bool plain_layout(const Tiff& lib, TIFF* tif, uint16_t& samples) {
    uint16_t bits = 0, photometric = 0, planar = 0, extra_count = 0;
    uint16_t* extra = nullptr;
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    if (lib.TIFFIsTiled(tif) || !lib.TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    if (bits != 8 || photometric != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG) return false;
    if (samples == 3) return extra_count == 0;
    return samples == 4 && extra_count == 1 && extra && extra[0] == EXTRASAMPLE_UNASSALPHA;
}

bool read_plain(const Tiff& lib, TIFF* tif, Bitmap& b, uint16_t samples) {
    std::vector<uint8_t> line(size_t(lib.TIFFScanlineSize(tif)));
    if (line.size() < size_t(b.width) * samples) return false;
    for (uint32_t row = 0; row < b.height; ++row) {
        if (lib.TIFFReadScanline(tif, line.data(), row, 0) < 0) return false;
        uint32_t* out = &b.pixels[size_t(row) * b.width];
        for (uint32_t x = 0; x < b.width; ++x) {
            const uint8_t* p = &line[size_t(x) * samples];
            out[x] = pixel_of(p[0], p[1], p[2], samples == 4 ? p[3] : 255);
        }
    }
    return true;
}

// Any layout libtiff knows, through its RGBA reader (associated alpha).
bool read_rgba(const Tiff& lib, TIFF* tif, Bitmap& b) {
    std::vector<uint32_t> raster(b.pixels.size());
    if (!lib.TIFFReadRGBAImageOriented(tif, b.width, b.height, raster.data(), ORIENTATION_TOPLEFT, 0)) return false;
    for (size_t i = 0; i < raster.size(); ++i) {
        uint32_t v = raster[i];
        uint32_t a = TIFFGetA(v), r = TIFFGetR(v), g = TIFFGetG(v), bl = TIFFGetB(v);
        if (a != 0 && a != 255) {
            r = std::min(255u, (r * 255 + a / 2) / a);
            g = std::min(255u, (g * 255 + a / 2) / a);
            bl = std::min(255u, (bl * 255 + a / 2) / a);
        }
        b.pixels[i] = pixel_of(r, g, bl, a);
    }
    return true;
}

bool write_tiff(const Tiff& lib, TIFF* tif, const Bitmap& b) {
    uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    bool ok = lib.TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, b.width) &&
              lib.TIFFSetField(tif, TIFFTAG_IMAGELENGTH, b.height) &&
              lib.TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) && lib.TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4) &&
              lib.TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra) &&
              lib.TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              lib.TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              lib.TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
              lib.TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, lib.TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> line(size_t(b.width) * 4);
    for (uint32_t row = 0; ok && row < b.height; ++row) {
        const uint32_t* in = &b.pixels[size_t(row) * b.width];
        for (uint32_t x = 0; x < b.width; ++x) {
            uint8_t* p = &line[size_t(x) * 4];
            p[0] = red(in[x]);
            p[1] = green(in[x]);
            p[2] = blue(in[x]);
            p[3] = alpha(in[x]);
        }
        ok = lib.TIFFWriteScanline(tif, line.data(), row, 0) >= 0;
    }
    return ok && lib.TIFFWriteDirectory(tif);
}

}  // namespace

Decoded decode_tiff(const uint8_t* data, size_t size) {
    const Tiff* lib = tiff_library();
    if (!lib) return Decoded{};
    Stream s;
    s.input = data;
    s.size = size;
    TIFF* tif = open_stream(*lib, s, "rm");
    if (!tif) return Decoded{};
    uint32_t width = 0, height = 0;
    Decoded d;
    if (lib->TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) && lib->TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) {
        d = sized(width, height);
        uint16_t samples = 0;
        if (d.bitmap) {
            bool ok = plain_layout(*lib, tif, samples) ? read_plain(*lib, tif, *d.bitmap, samples)
                                                       : read_rgba(*lib, tif, *d.bitmap);
            if (!ok) d.bitmap.reset();
        }
    }
    lib->TIFFClose(tif);
    return d;
}

bool encode_tiff(const Bitmap& bitmap, std::vector<uint8_t>& out) {
    const Tiff* lib = tiff_library();
    if (!lib) return false;
    Stream s;
    s.output = &out;
    TIFF* tif = open_stream(*lib, s, "wm");
    if (!tif) return false;
    bool ok = write_tiff(*lib, tif, bitmap);
    lib->TIFFClose(tif);
    out.resize(s.size);
    return ok;
}

}  // namespace vyr::image_backend
