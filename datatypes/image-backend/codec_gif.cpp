// GIF through giflib. Decoding reads the first frame at its own size; the
// transparent palette index keeps its colour with A = 0. Encoding needs a palette of at
// most 256 entries: an image with few enough colours keeps them exactly,
// others are quantised (median cut) to 255 colours or 256; pixels with
// A below 128 become the transparent index. giflib is opened on the first
// GIF (runtime/shared_library.h).
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "datatypes/image-backend/codecs.h"
#include "runtime/shared_library.h"

namespace vyr::image_backend {

namespace {

#define GIF_ENTRIES(X) X(DGifOpen) X(DGifSlurp) X(DGifSavedExtensionToGCB) X(DGifCloseFile) X(EGifOpen) \
    X(EGifSetGifVersion) X(EGifPutScreenDesc) X(EGifGCBToExtension) X(EGifPutExtension) X(EGifPutImageDesc) \
    X(EGifPutLine) X(EGifCloseFile) X(GifMakeMapObject) X(GifFreeMapObject) X(GifQuantizeBuffer)

struct Gif {
    GIF_ENTRIES(VYR_ENTRY)
};

// The entry points, or null when giflib cannot be had.
const Gif* gif_library() {
    return library_table<Gif>(VYR_GIF_SONAME, [](SharedLibrary& lib, Gif& t) { GIF_ENTRIES(VYR_BIND_ENTRY) });
}

struct Reader {
    const uint8_t* data;
    size_t left;
};

int read_bytes(GifFileType* gif, GifByteType* into, int n) {
    auto* r = static_cast<Reader*>(gif->UserData);
    size_t k = std::min(size_t(n), r->left);
    std::memcpy(into, r->data, k);
    r->data += k;
    r->left -= k;
    return int(k);
}

int write_bytes(GifFileType* gif, const GifByteType* from, int n) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), from, from + n);
    return n;
}

// Fills the bitmap from the first saved image.
bool paint_frame(const Gif& lib, GifFileType* gif, Bitmap& b) {
    const SavedImage& frame = gif->SavedImages[0];
    const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
    if (!map || !frame.RasterBits) return false;
    GraphicsControlBlock gcb;
    int transparent = -1;
    if (lib.DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
    for (size_t i = 0; i < b.pixels.size(); ++i) {
        int index = frame.RasterBits[i];
        if (index < map->ColorCount) {
            const GifColorType& c = map->Colors[index];
            b.pixels[i] = pixel_of(c.Red, c.Green, c.Blue, index == transparent ? 0 : 255);
        } else {
            b.pixels[i] = 0xFF000000;  // an index past the palette: black
        }
    }
    return true;
}

// The palette and indexes of an image; `transparent` is the index of the
// see-through pixels, or -1 when there are none.
struct Indexed {
    std::vector<GifColorType> palette;
    std::vector<GifPixelType> indexes;
    int transparent = -1;
};

bool see_through(uint32_t p) { return alpha(p) < 128; }

// Exact palette when the colours fit; answers false when they do not.
bool exact_palette(const Bitmap& b, Indexed& out, size_t room) {
    std::unordered_map<uint32_t, uint8_t> index_of;
    out.indexes.resize(b.pixels.size());
    for (size_t i = 0; i < b.pixels.size(); ++i) {
        uint32_t p = b.pixels[i];
        if (see_through(p)) continue;
        uint32_t rgb = p & 0x00FFFFFF;
        auto it = index_of.find(rgb);
        if (it == index_of.end()) {
            if (index_of.size() == room) return false;
            it = index_of.emplace(rgb, uint8_t(index_of.size())).first;
            out.palette.push_back(GifColorType{red(p), green(p), blue(p)});
        }
        out.indexes[i] = it->second;
    }
    return true;
}

bool quantised_palette(const Gif& lib, const Bitmap& b, Indexed& out, int colours) {
    size_t n = b.pixels.size();
    std::vector<GifByteType> r(n), g(n), bl(n);
    for (size_t i = 0; i < n; ++i) {
        r[i] = red(b.pixels[i]);
        g[i] = green(b.pixels[i]);
        bl[i] = blue(b.pixels[i]);
    }
    out.palette.assign(256, GifColorType{0, 0, 0});
    out.indexes.assign(n, 0);
    int size = colours;
    if (lib.GifQuantizeBuffer(b.width, b.height, &size, r.data(), g.data(), bl.data(), out.indexes.data(),
                              out.palette.data()) != GIF_OK)
        return false;
    out.palette.resize(size_t(size));
    return true;
}

bool to_indexed(const Gif& lib, const Bitmap& b, Indexed& out) {
    bool any_clear = std::any_of(b.pixels.begin(), b.pixels.end(), see_through);
    size_t room = any_clear ? 255 : 256;
    if (!exact_palette(b, out, room)) {
        out = Indexed{};
        if (!quantised_palette(lib, b, out, int(room))) return false;
    }
    if (any_clear) {
        out.transparent = int(out.palette.size());
        out.palette.push_back(GifColorType{0, 0, 0});
        for (size_t i = 0; i < b.pixels.size(); ++i)
            if (see_through(b.pixels[i])) out.indexes[i] = GifPixelType(out.transparent);
    }
    // A colour map has a power of two entries, at least 2.
    size_t entries = 2;
    while (entries < out.palette.size()) entries *= 2;
    out.palette.resize(entries, GifColorType{0, 0, 0});
    return true;
}

bool write_gif(const Gif& lib, GifFileType* gif, const Bitmap& b, Indexed& ix) {
    ColorMapObject* map = lib.GifMakeMapObject(int(ix.palette.size()), ix.palette.data());
    if (!map) return false;
    lib.EGifSetGifVersion(gif, true);
    bool ok = lib.EGifPutScreenDesc(gif, int(b.width), int(b.height), map->BitsPerPixel, 0, map) == GIF_OK;
    if (ok && ix.transparent >= 0) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, ix.transparent};
        GifByteType ext[4];
        size_t len = lib.EGifGCBToExtension(&gcb, ext);
        ok = lib.EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), ext) == GIF_OK;
    }
    ok = ok && lib.EGifPutImageDesc(gif, 0, 0, int(b.width), int(b.height), false, nullptr) == GIF_OK;
    for (uint32_t row = 0; ok && row < b.height; ++row)
        ok = lib.EGifPutLine(gif, ix.indexes.data() + size_t(row) * b.width, int(b.width)) == GIF_OK;
    lib.GifFreeMapObject(map);
    return ok;
}

}  // namespace

Decoded decode_gif(const uint8_t* data, size_t size) {
    const Gif* lib = gif_library();
    if (!lib) return Decoded{};
    Reader reader{data, size};
    int error = 0;
    GifFileType* gif = lib->DGifOpen(&reader, read_bytes, &error);
    if (!gif) return Decoded{};
    Decoded d;
    if (lib->DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0) {
        const GifImageDesc& desc = gif->SavedImages[0].ImageDesc;
        d = sized(desc.Width, desc.Height);
        if (d.bitmap && !paint_frame(*lib, gif, *d.bitmap)) d.bitmap.reset();
    }
    lib->DGifCloseFile(gif, &error);
    return d;
}

bool encode_gif(const Bitmap& bitmap, std::vector<uint8_t>& out) {
    const Gif* lib = gif_library();
    if (!lib) return false;
    Indexed ix;
    if (!to_indexed(*lib, bitmap, ix)) return false;
    int error = 0;
    GifFileType* gif = lib->EGifOpen(&out, write_bytes, &error);
    if (!gif) return false;
    bool ok = write_gif(*lib, gif, bitmap, ix);
    return lib->EGifCloseFile(gif, &error) == GIF_OK && ok;
}

}  // namespace vyr::image_backend
