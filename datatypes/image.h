// image!: raster images, a series of pixels held by a bitmap of the image
// back end (datatypes/image-backend/).
//
// Cell: w1 the head index in pixels (row by row from the top-left pixel),
// w2 the node of the image bitmap record (0 for an image without pixels),
// w3 the width in the low 16 bits and the height in the high 16 bits.
//
// The language sees a pixel as a 4-byte tuple R.G.B.T with T = 255 - A (0
// opaque). Three binary views read and write all pixels at once: rgb (3
// bytes per pixel), alpha (1 byte, 255 - A) and argb (the 4 stored bytes B,
// G, R, A as they are).
//
// An image's length is always width x height, whatever its index; `at` and
// `skip` take an integer or a column-by-row pair.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::image_t {

inline uint32_t width_of(const Cell& v) { return v.w3 & 0xFFFF; }
inline uint32_t height_of(const Cell& v) { return v.w3 >> 16; }
inline int64_t pixel_count(const Cell& v) { return int64_t(width_of(v)) * height_of(v); }

// The modes of the binary views.
enum RgbMode : int32_t { mode_alpha = 0, mode_rgb = 1, mode_argb = 2 };

// Container formats of the codecs (the codec objects pass these numbers).
enum Format : int32_t { format_bmp = 0, format_png = 1, format_gif = 2, format_jpeg = 3, format_tiff = 4 };

// Types the cell image! at head 0 with the record and the record's size.
Cell* make_at(Cell* cell, NodeId record);
// The pixel at an index (0-based from the top-left) as a tuple; none outside
// the image.
Cell pixel_at(const Cell& image, int64_t index);
// A new binary of every pixel in the mode's layout.
Cell get_rgb(const Cell& image, RgbMode mode);
// Writes the pixels from a binary!, tuple! or integer! in the mode's layout
// (any other value raises script `invalid-arg`); the owner is told.
void set_rgb(Cell* image, const Cell& value, RgbMode mode);

// Decodes image file data: a new image!, or none when the bytes carry no
// known signature; access `bad-media` when the decoder fails.
Cell decode_binary(const uint8_t* data, uint32_t size);
// Image file bytes from outside (the clipboard): a new image!, or none when
// the bytes are not an image that can be read.
Cell decode_or_none(const uint8_t* data, uint32_t size);
// The codecs' decode: a binary! from memory, a file! from its file (access
// `cannot-open` with the file when it cannot be read or decoded).
Cell decode(const Cell& source);
// The codecs' encode: a new binary! holding the image in that format; an
// image without pixels raises access `bad-media`; an unknown format raises
// script `invalid-arg` with the format number.
Cell encode(const Cell& image, int32_t format);

// Draws the image, or the rectangle of it that `crop` names (two cells: the
// offset and the size, pairs), into the shape the run of points from `first`
// to `last` gives (pair! or point2D! cells): one point places the image's
// top-left corner, two the corners of a rectangle, three top-left,
// top-right and bottom-left of a parallelogram, four every corner (top-left,
// top-right, bottom-left, bottom-right). Answers the new image, with its box
// in `box` (x, y, width, height; a width or height negated when the shape
// is mirrored on that axis), or unset for more than four points or a shape
// the warp cannot draw.
Cell transform(const Cell& image, const Cell* crop, const Cell* first, const Cell* last, int32_t box[4]);

// ---- Actions -----------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* at();
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
int32_t length_q(Cell* value);
Cell* next();
Cell* pick(Cell* series, int32_t index, Cell* index_cell);
Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell);
Cell* skip();
Cell* tail();
Cell* tail_q();

void init();

}  // namespace vyr::image_t
