// image!: helpers, the binary views, codec entry points, actions and
// registration (see image.h).
#include "datatypes/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/fixed_words.h"
#include "datatypes/image-backend/bitmap.h"
#include "datatypes/image-backend/codecs.h"
#include "datatypes/image-backend/geometry.h"
#include "datatypes/owners.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/series_internal.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/text_errors.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/error_catalog.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace vyr::image_t {

using image_backend::Bitmap;
namespace script = err_id::script;
namespace cells = series_t::cells;

namespace {

// ---- Small pieces -------------------------------------------------------------

Bitmap* bitmap(const Cell& v) { return image_backend::bitmap_of(v.w2); }
int64_t head_of(const Cell& v) { return int32_t(v.w1); }
Cell empty_image() { return Cell{type_image, 0, 0, 0}; }

Cell tuple_of_pixel(uint32_t p) {
    uint8_t b[4] = {image_backend::red(p), image_backend::green(p), image_backend::blue(p),
                    uint8_t(255 - image_backend::alpha(p))};
    return tuple_t::cell_of(b, 4);
}

// A tuple's colour as a pixel: A = 255 - the 4th byte when there is one.
uint32_t pixel_of_tuple(const Cell& t) {
    const uint8_t* b = tuple_t::bytes_of(t);
    uint32_t a = tuple_t::count_of(t) > 3 ? 255u - b[3] : 255u;
    return image_backend::pixel_of(b[0], b[1], b[2], a);
}

bool word_named(const Cell& word, int32_t symbol) {
    return any_word_q(type_of(word)) &&
           symbol_t::resolve_alias(int32_t(word.w2)) == symbol_t::resolve_alias(symbol);
}

void notify(const Cell& image, const Cell& action, const Cell* value, int64_t position, int64_t part) {
    if (image.w2) owners::notify_owner(image, action, value, int32_t(position), int32_t(part));
}

// A new image! over a new record.
Cell image_of(NodeId record) {
    Cell c{};
    make_at(&c, record);
    return c;
}

// ---- Positions ------------------------------------------------------------------

// The head index a position names for `at` (base 1), `skip` (base 0) and
// pick or poke (base 1): an integer is an offset from the head, a pair a
// column and row. `outside` is set when the position lies outside the
// image; the answer is clamped to 0..width x height.
int64_t offset_index(const Cell& image, const Cell& position, int32_t base, bool& outside) {
    int64_t w = width_of(image), h = height_of(image), count = w * h;
    int64_t offset;
    outside = false;
    if (type_of(position) == type_pair) {
        int64_t x = pair_t::x_of(position), y = pair_t::y_of(position);
        offset = x + w * (base == 1 && y > 0 ? y - 1 : y);
        if (base == 1) outside = x < 1 || x > w || y < 1 || y > h;
        else outside = x < 0 || x >= w || y < 0 || y >= h;
    } else if (type_of(position) == type_integer) {
        offset = int32_t(position.w2);
    } else {
        text_errors::raise_invalid_arg(position);
    }
    int64_t index = offset + (base == 1 && offset <= 0 ? 1 : 0) + head_of(image) - base;
    int64_t clamped = std::clamp<int64_t>(index, 0, count);
    if (offset == 0 || index < 0 || clamped >= count) outside = true;
    return clamped;
}

// The pixel index pick and poke address, or -1 when there is none.
int64_t pick_position(const Cell& image, int32_t index, const Cell* index_cell) {
    if (index_cell && type_of(*index_cell) == type_pair) {
        bool outside;
        int64_t i = offset_index(image, *index_cell, 1, outside);
        return outside ? -1 : i;
    }
    if (index == 0) return -1;
    int64_t i = head_of(image) + index - 1;
    return i >= 0 && i < pixel_count(image) ? i : -1;
}

// Writes one pixel and tells the owner.
void write_pixel(const Cell& image, int64_t i, const Cell& value) {
    bitmap(image)->pixels[size_t(i)] = pixel_of_tuple(value);
    notify(image, fixed::word_poked, &value, i, 1);
}

// ---- Copy -----------------------------------------------------------------------

struct Rect {
    int64_t x = 0, y = 0, w = 0, h = 0;
};

// A copy of the rectangle (cut to the image); an empty image when it holds
// no pixel.
Cell copy_rect(const Cell& image, Rect r) {
    int64_t W = width_of(image), H = height_of(image);
    r.x = std::clamp<int64_t>(r.x, 0, W);
    r.y = std::clamp<int64_t>(r.y, 0, H);
    r.w = std::min(r.w, W - r.x);
    r.h = std::min(r.h, H - r.y);
    if (r.w < 1 || r.h < 1 || !image.w2) return empty_image();
    if (r.x == 0 && r.y == 0 && r.w == W && r.h == H) return image_of(image_backend::bitmap_copy(image.w2));
    return image_of(image_backend::bitmap_crop(image.w2, uint32_t(r.x), uint32_t(r.y), uint32_t(r.w),
                                               uint32_t(r.h)));
}

// The rectangle a /part pair gives from the head.
Rect part_by_pair(const Cell& image, const Cell& part) {
    int64_t W = width_of(image), H = height_of(image), head = head_of(image);
    int64_t pw = pair_t::x_of(part), ph = pair_t::y_of(part);
    int64_t col = head % W, row = head / W;
    if (pw > 0 && ph > 0 && head < W * H) return Rect{col, row, pw, ph};
    if (pw < 0 && ph < 0 && head > 0) {
        int64_t c = col == 0 ? W : col;
        int64_t r = row < H ? row + 1 : H;
        int64_t x0 = std::max<int64_t>(c + pw, 0), y0 = std::max<int64_t>(r + ph, 0);
        return Rect{x0, y0, c - x0, r - y0};
    }
    return Rect{};
}

// The rectangle between two positions of the same image.
Rect part_by_image(const Cell& image, const Cell& part) {
    int64_t W = width_of(image);
    int64_t a = std::clamp<int64_t>(head_of(image), 0, pixel_count(image));
    int64_t b = std::clamp<int64_t>(head_of(part), 0, pixel_count(image));
    if (a > b) std::swap(a, b);
    return Rect{a % W, a / W, b % W - a % W, b / W - a / W};
}

// ---- Mold ------------------------------------------------------------------------

constexpr char hex_digits[] = "0123456789ABCDEF";
constexpr int64_t pixels_per_line = 10;
// Pixel data (3 bytes a pixel) of this many bytes or more molds on lines.
constexpr int64_t lines_from_bytes = 31;

int32_t emit(Cell* buffer, const char* text, int32_t budget) { return series_t::emit(buffer, text, budget); }

int32_t line_break(Cell* buffer, int32_t indent, int32_t budget) {
    string_t::append_code_point(*buffer, '\n');
    return series_t::emit_indent(buffer, std::max(indent, 0), budget);
}

void append_hex(Cell* buffer, uint8_t byte) {
    char digits[3] = {hex_digits[byte >> 4], hex_digits[byte & 15], 0};
    string_t::append_text(*buffer, digits);
}

int32_t form_text(const Cell& image, Cell* buffer, bool only, bool flat, bool part, int32_t budget, int32_t indent) {
    if (!only) budget = emit(buffer, "make image! [", budget);
    std::string size = std::to_string(width_of(image)) + "x" + std::to_string(height_of(image));
    budget = emit(buffer, size.c_str(), budget);
    if (!image.w2) {
        budget = emit(buffer, " #{}", budget);
        return only ? budget : emit(buffer, "]", budget);
    }
    int64_t from = std::clamp<int64_t>(head_of(image), 0, pixel_count(image));
    int64_t n = pixel_count(image) - from;
    budget = emit(buffer, " #{", budget);
    bool lines = !flat && n * 3 >= lines_from_bytes;
    if (lines) budget = line_break(buffer, indent, budget);
    bool translucent = false;
    for (int64_t i = 0; i < n; ++i) {
        if (part && budget <= 0) return budget;
        uint32_t p = bitmap(image)->pixels[size_t(from + i)];
        translucent |= image_backend::alpha(p) < 255;
        append_hex(buffer, image_backend::red(p));
        append_hex(buffer, image_backend::green(p));
        append_hex(buffer, image_backend::blue(p));
        budget -= 6;
        if (!flat && (i + 1) % pixels_per_line == 0) budget = line_break(buffer, indent, budget);
    }
    if (lines && n % pixels_per_line != 0) budget = line_break(buffer, indent, budget);
    budget = emit(buffer, "}", budget);
    if (translucent) {
        budget = emit(buffer, " #{", budget);
        budget = line_break(buffer, indent, budget);
        for (int64_t i = 0; i < n; ++i) {
            if (part && budget <= 0) return budget;
            append_hex(buffer, uint8_t(255 - image_backend::alpha(bitmap(image)->pixels[size_t(from + i)])));
            budget -= 2;
            if (!flat && (i + 1) % pixels_per_line == 0) budget = line_break(buffer, indent, budget);
        }
        budget = line_break(buffer, indent - 1, budget);
        budget = emit(buffer, "}", budget);
    }
    return only ? budget : emit(buffer, "]", budget);
}

// ---- make ------------------------------------------------------------------------

image_backend::Bytes bytes_of_binary(const Cell& binary) {
    Cell b = binary;
    return image_backend::Bytes{binary_t::head_ptr(b), binary_t::byte_length(b)};
}

Cell make_sized(const Cell& size, const Cell* second, const Cell* third) {
    int64_t w = std::max(pair_t::x_of(size), 0), h = std::max(pair_t::y_of(size), 0);
    image_backend::check_size(w, h);
    image_backend::Bytes rgb, alpha;
    uint32_t colour = 0;
    const uint32_t* fill = nullptr;
    if (second && type_of(*second) == type_binary) rgb = bytes_of_binary(*second);
    if (second && type_of(*second) == type_tuple) {
        colour = pixel_of_tuple(*second);
        fill = &colour;
    }
    if (third) alpha = bytes_of_binary(*third);
    return image_of(image_backend::image_create(uint32_t(w), uint32_t(h), rgb, alpha, fill));
}

Cell make_from_block(const Cell& proto, const Cell& spec) {
    Cell s = spec;
    int32_t n = int32_t(memory::series_length(s.w2)) - int32_t(s.w1);
    if (n <= 0) {
        if (type_of(proto) == type_image) return proto;
        text_errors::raise_invalid_arg(spec);
    }
    std::vector<Cell> items(memory::cell_at(s.w2, s.w1), memory::cell_at(s.w2, s.w1) + std::min(n, 3));
    if (type_of(items[0]) != type_pair) text_errors::raise_invalid_arg(items[0]);
    const Cell* second = items.size() > 1 ? &items[1] : nullptr;
    const Cell* third = items.size() > 2 ? &items[2] : nullptr;
    if (second && type_of(*second) != type_binary && type_of(*second) != type_tuple)
        text_errors::raise_invalid_arg(*second);
    if (third && type_of(*third) != type_binary) text_errors::raise_invalid_arg(*third);
    return make_sized(items[0], second, third);
}

// ---- set-rgb ----------------------------------------------------------------------

void set_from_binary(Bitmap& b, const Cell& value, RgbMode mode) {
    image_backend::Bytes bytes = bytes_of_binary(value);
    size_t n = b.pixels.size();
    if (mode == mode_argb) {
        std::memcpy(b.pixels.data(), bytes.data, std::min<size_t>(bytes.size, n * 4));
        return;
    }
    size_t step = mode == mode_rgb ? 3 : 1;
    size_t covered = std::min(n, bytes.size / step);
    for (size_t i = 0; i < covered; ++i) {
        const uint8_t* c = bytes.data + i * step;
        uint32_t& p = b.pixels[i];
        if (mode == mode_rgb) p = (p & 0xFF000000) | image_backend::pixel_of(c[0], c[1], c[2], 0);
        else p = (p & 0x00FFFFFF) | uint32_t(255 - c[0]) << 24;
    }
}

void set_from_colour(Bitmap& b, const uint8_t rgbt[4], RgbMode mode) {
    for (uint32_t& p : b.pixels) {
        if (mode == mode_argb) p = image_backend::pixel_of(rgbt[0], rgbt[1], rgbt[2], 255u - rgbt[3]);
        else if (mode == mode_rgb) p = (p & 0xFF000000) | image_backend::pixel_of(rgbt[0], rgbt[1], rgbt[2], 0);
        else p = (p & 0x00FFFFFF) | uint32_t(255 - rgbt[0]) << 24;
    }
}

}  // namespace

// ---- Helpers for other modules ---------------------------------------------------

Cell* make_at(Cell* cell, NodeId record) {
    cell->header = (cell->header & ~header::type_mask) | type_image;
    cell->w1 = 0;
    cell->w2 = record;
    cell->w3 = image_backend::packed_size(record);
    return cell;
}

Cell pixel_at(const Cell& image, int64_t index) {
    if (index < 0 || index >= pixel_count(image) || !image.w2) return cells::none();
    return tuple_of_pixel(bitmap(image)->pixels[size_t(index)]);
}

Cell get_rgb(const Cell& image, RgbMode mode) {
    uint64_t n = image.w2 ? uint64_t(pixel_count(image)) : 0;
    uint32_t step = mode == mode_argb ? 4 : mode == mode_rgb ? 3 : 1;
    NodeId node = memory::alloc_bytes(uint32_t(n * step));
    memory::SeriesBuffer* buf = memory::buffer_of(node);
    uint8_t* out = buf->head_ptr();
    const Bitmap* b = bitmap(image);
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t p = b->pixels[i];
        if (mode == mode_argb) {
            std::memcpy(out, &p, 4);
        } else if (mode == mode_rgb) {
            out[0] = image_backend::red(p);
            out[1] = image_backend::green(p);
            out[2] = image_backend::blue(p);
        } else {
            out[0] = uint8_t(255 - image_backend::alpha(p));
        }
        out += step;
    }
    buf->tail = buf->head + uint32_t(n * step);
    return binary_t::make_cell(node);
}

void set_rgb(Cell* image, const Cell& value, RgbMode mode) {
    if (!image->w2 || pixel_count(*image) == 0) return;
    Bitmap& b = *bitmap(*image);
    switch (type_of(value)) {
        case type_binary: set_from_binary(b, value, mode); break;
        case type_tuple: {
            uint8_t rgbt[4] = {0, 0, 0, 0};
            std::memcpy(rgbt, tuple_t::bytes_of(value), tuple_t::count_of(value) > 3 ? 4 : 3);
            set_from_colour(b, rgbt, mode);
            break;
        }
        case type_integer: {
            uint8_t rgbt[4];
            std::memcpy(rgbt, &value.w2, 4);
            set_from_colour(b, rgbt, mode);
            break;
        }
        default: text_errors::raise_invalid_arg(value);
    }
    notify(*image, fixed::word_changed, &value, 0, pixel_count(*image));
}

// ---- Codec entry points ----------------------------------------------------------

namespace {

Cell image_from_decoded(image_backend::Decoded&& d) {
    if (d.too_large) image_backend::check_size(d.width, d.height);
    if (!d.bitmap) raise_error(err_cat::access, err_id::access::bad_media);
    return image_of(image_backend::wrap_bitmap(std::move(d.bitmap)));
}

}  // namespace

Cell decode_binary(const uint8_t* data, uint32_t size) {
    if (image_backend::format_of_signature(data, size) < 0) return cells::none();
    return image_from_decoded(image_backend::decode_memory(data, size));
}

Cell decode_or_none(const uint8_t* data, uint32_t size) {
    image_backend::Decoded d = image_backend::decode_memory(data, size);
    if (!d.bitmap) return cells::none();
    return image_of(image_backend::wrap_bitmap(std::move(d.bitmap)));
}

Cell decode(const Cell& source) {
    if (type_of(source) == type_binary) {
        image_backend::Bytes b = bytes_of_binary(source);
        std::vector<uint8_t> copy(b.data, b.data + b.size);
        return decode_binary(copy.data(), uint32_t(copy.size()));
    }
    std::vector<uint8_t> bytes;
    bool read = false;
    if (type_of(source) == type_file) read = image_backend::read_file(file_t::to_local_path(source), bytes);
    if (!read || image_backend::format_of_signature(bytes.data(), bytes.size()) < 0)
        raise_error(err_cat::access, err_id::access::cannot_open, &source);
    image_backend::Decoded d = image_backend::decode_memory(bytes.data(), bytes.size());
    if (d.too_large) image_backend::check_size(d.width, d.height);
    if (!d.bitmap) raise_error(err_cat::access, err_id::access::cannot_open, &source);
    return image_of(image_backend::wrap_bitmap(std::move(d.bitmap)));
}

Cell encode(const Cell& image, int32_t format) {
    // An unknown format is an error, so a save never answers as if it wrote something.
    if (format < format_bmp || format > format_tiff) {
        Cell code{type_integer, 0, uint32_t(format), 0};
        text_errors::raise_invalid_arg(code);
    }
    if (!image.w2 || pixel_count(image) == 0) raise_error(err_cat::access, err_id::access::bad_media);
    std::vector<uint8_t> out;
    if (!image_backend::encode_bitmap(*bitmap(image), format, out))
        raise_error(err_cat::access, err_id::access::bad_media);
    Cell* bin = binary_t::push_bytes(out.data(), uint32_t(out.size()));
    Cell result = *bin;
    stack::pop_cells(1);
    return result;
}

// ---- Drawing into a shape --------------------------------------------------------

namespace {

bool point_of(const Cell& c, float& x, float& y) {
    if (type_of(c) == type_pair) {
        x = float(pair_t::x_of(c));
        y = float(pair_t::y_of(c));
        return true;
    }
    if (type_of(c) == type_point2d) {
        x = point2d_t::x_of(c);
        y = point2d_t::y_of(c);
        return true;
    }
    return false;
}

// The corners (top-left, top-right, bottom-right, bottom-left) the points
// give for a source of w x h; false for a run that is not 1 to 4 points.
bool corners_of(const Cell* first, const Cell* last, float w, float h, image_backend::Corners& c) {
    float p[4][2];
    ptrdiff_t n = last - first + 1;
    if (n < 1 || n > 4) return false;
    for (ptrdiff_t i = 0; i < n; ++i)
        if (!point_of(first[i], p[i][0], p[i][1])) return false;
    float tl[2] = {p[0][0], p[0][1]}, tr[2], bl[2], br[2];
    switch (n) {
        case 1: tr[0] = tl[0] + w; tr[1] = tl[1]; bl[0] = tl[0]; bl[1] = tl[1] + h; br[0] = tl[0] + w; br[1] = tl[1] + h; break;
        case 2: tr[0] = p[1][0]; tr[1] = tl[1]; bl[0] = tl[0]; bl[1] = p[1][1]; br[0] = p[1][0]; br[1] = p[1][1]; break;
        case 3:
            tr[0] = p[1][0]; tr[1] = p[1][1]; bl[0] = p[2][0]; bl[1] = p[2][1];
            br[0] = tr[0] + bl[0] - tl[0]; br[1] = tr[1] + bl[1] - tl[1];
            break;
        default: tr[0] = p[1][0]; tr[1] = p[1][1]; bl[0] = p[2][0]; bl[1] = p[2][1]; br[0] = p[3][0]; br[1] = p[3][1];
    }
    c = {tl[0], tl[1], tr[0], tr[1], br[0], br[1], bl[0], bl[1]};
    return true;
}

}  // namespace

Cell transform(const Cell& image, const Cell* crop, const Cell* first, const Cell* last, int32_t box[4]) {
    int32_t W = int32_t(width_of(image)), H = int32_t(height_of(image));
    int32_t cx = 0, cy = 0, cw = W, ch = H;
    if (crop) {
        if (type_of(crop[0]) != type_pair || type_of(crop[1]) != type_pair) text_errors::raise_invalid_arg(crop[0]);
        cx = pair_t::x_of(crop[0]);
        cy = pair_t::y_of(crop[0]);
        cw = std::min(pair_t::x_of(crop[1]), W - cx);
        ch = std::min(pair_t::y_of(crop[1]), H - cy);
    }
    image_backend::Corners c;
    if (!image.w2 || !corners_of(first, last, float(cw), float(ch), c)) return cells::unset();
    bool mirror_x = c[0] > c[2], mirror_y = c[3] > c[5];
    if (mirror_x) image_backend::corners_mirror_x(c, c[0]);
    if (mirror_y) image_backend::corners_mirror_y(c, c[1]);
    const Bitmap& b = *bitmap(image);
    std::vector<uint32_t> part;
    const uint32_t* source = b.pixels.data();
    if (crop) {
        if (!image_backend::pixels_copy_rect(source, W, H, cx, cy, cw, ch, part)) return cells::unset();
        source = part.data();
        cw = part.empty() ? 0 : std::max(0, std::min(cw, W - cx));
        ch = part.empty() ? 0 : std::max(0, std::min(ch, H - cy));
    }
    image_backend::Box out;
    auto pixels = image_backend::image_warp(source, cw, ch, c, out);
    if (!pixels) return cells::unset();
    auto fresh = image_backend::new_bitmap(uint32_t(out.w), uint32_t(out.h), 0);
    fresh->pixels = std::move(*pixels);
    box[0] = out.x;
    box[1] = out.y;
    box[2] = mirror_x ? -out.w : out.w;
    box[3] = mirror_y ? -out.h : out.h;
    return image_of(image_backend::wrap_bitmap(std::move(fresh)));
}

// ---- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    switch (type_of(*spec)) {
        case type_block: *proto = make_from_block(*proto, *spec); return proto;
        case type_pair: *proto = make_sized(*spec, nullptr, nullptr); return proto;
        default: return to(proto, spec, type);
    }
}

// No face can be captured as an image in this build: only an image converts.
Cell* to(Cell* proto, Cell* spec, uint32_t) {
    if (type_of(*spec) != type_image) text_errors::raise_bad_to_arg(type_image, *spec);
    Cell source = *spec;
    return copy(&source, proto, nullptr, false, nullptr);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return form_text(*value, buffer, false, false, part != nullptr, budget, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* part, int32_t budget, int32_t indent) {
    return form_text(*value, buffer, only, flat, part != nullptr, budget, indent);
}

namespace {
Cell path_answer;

RgbMode view_of(const Cell& word) {
    if (word_named(word, fixed::sym_argb)) return mode_argb;
    if (word_named(word, fixed::sym_rgb)) return mode_rgb;
    return mode_alpha;
}
}  // namespace

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                  bool) {
    uint32_t t = type_of(*element);
    if (t == type_integer || t == type_pair) {
        int32_t n = t == type_integer ? int32_t(element->w2) : 0;
        if (value) return poke(parent, n, value, element);
        path_answer = *parent;
        return pick(&path_answer, n, element);
    }
    Cell where = path ? *path : *element;
    if (word_named(*element, fixed::sym_size)) {
        if (value) raise_error(err_cat::script, script::invalid_path, &where, element);
        path_answer = pair_t::cell_of(int32_t(width_of(*parent)), int32_t(height_of(*parent)));
        return &path_answer;
    }
    bool view = word_named(*element, fixed::sym_argb) || word_named(*element, fixed::sym_rgb) ||
                word_named(*element, fixed::sym_alpha);
    if (!view) raise_error(err_cat::script, script::invalid_path, &where, element);
    if (value) {
        set_rgb(parent, *value, view_of(*element));
        return value;
    }
    path_answer = get_rgb(*parent, view_of(*element));
    return &path_answer;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_image) return registry::not_comparable;
    bool same_place = a->w2 == b->w2 && a->w1 == b->w1;
    if (op == registry::op_same) return same_place ? 0 : -1;
    bool equality = op == registry::op_equal || op == registry::op_not_equal || op == registry::op_strict_equal;
    if (same_place && equality) return 0;
    bool ordering = equality || op == registry::op_sort || op == registry::op_case_sort || op == registry::op_find;
    if (!ordering) return registry::not_comparable;
    int64_t na = a->w2 ? pixel_count(*a) : 0, nb = b->w2 ? pixel_count(*b) : 0;
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    int r = std::memcmp(bitmap(*a)->pixels.data(), bitmap(*b)->pixels.data(), size_t(na) * 4);
    return (r > 0) - (r < 0);
}

namespace {
Cell& arg(int i) { return stack::arg_base()[i]; }

Cell* move_to(int32_t base) {
    bool outside;
    arg(0).w1 = uint32_t(offset_index(arg(0), arg(1), base, outside));
    return &arg(0);
}
}  // namespace

Cell* at() { return move_to(1); }
Cell* skip() { return move_to(0); }

Cell* next() {
    if (head_of(arg(0)) + 1 <= pixel_count(arg(0))) arg(0).w1 += 1;
    return &arg(0);
}

Cell* tail() {
    arg(0).w1 = uint32_t(pixel_count(arg(0)));
    return &arg(0);
}

Cell* tail_q() {
    arg(0) = cells::logic(head_of(arg(0)) >= pixel_count(arg(0)));
    return &arg(0);
}

int32_t length_q(Cell* value) { return int32_t(pixel_count(*value)); }

Cell* pick(Cell* series, int32_t index, Cell* index_cell) {
    *series = pixel_at(*series, pick_position(*series, index, index_cell));
    return series;
}

Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell) {
    int64_t i = pick_position(*series, index, index_cell);
    if (i < 0 || !series->w2) {
        Cell position = index_cell ? *index_cell : cells::integer(index);
        text_errors::raise_out_of_range(position);
    }
    if (type_of(*value) != type_tuple) text_errors::raise_invalid_arg(*value);
    write_pixel(*series, i, *value);
    return value;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    Cell image = *value;
    int64_t W = width_of(image), H = height_of(image);
    Cell out;
    if (W < 1 || H < 1 || !image.w2) {
        out = empty_image();
    } else if (!part) {
        int64_t head = std::clamp<int64_t>(head_of(image), 0, W * H);
        out = copy_rect(image, Rect{head % W, head / W, W, H});
    } else {
        switch (type_of(*part)) {
            case type_pair: out = copy_rect(image, part_by_pair(image, *part)); break;
            case type_image:
                if (part->w2 != image.w2)
                    series_t::raise_invalid_refine_arg(series_t::Refinement::part, *part);
                out = copy_rect(image, part_by_image(image, *part));
                break;
            case type_integer: text_errors::raise_not_done();
            default:
                series_t::raise_invalid_refine_arg(series_t::Refinement::part, *part);
        }
    }
    *result = out;
    return result;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    if (part >= 0 || dup != 1) text_errors::raise_not_done();
    uint32_t t = type_of(*value);
    if (t == type_tuple) {
        notify(*series, fixed::word_change, value, head_of(*series), 1);
        int64_t i = head_of(*series);
        if (i < 0 || i >= pixel_count(*series) || !series->w2) text_errors::raise_out_of_range(cells::integer(int32_t(i + 1)));
        bitmap(*series)->pixels[size_t(i)] = pixel_of_tuple(*value);
        series->w1 += 1;
        notify(*series, fixed::word_changed, value, i, 1);
        return series;
    }
    if (t != type_image) {
        Cell dt = datatype_t::value_of(t);
        raise_error(err_cat::script, script::invalid_type, &dt);
    }
    int64_t W = width_of(*series), H = height_of(*series), head = head_of(*series);
    if (head < 0 || head >= W * H || !series->w2 || !value->w2) return series;
    int64_t c0 = head % W, r0 = head / W;
    const Bitmap& src = *bitmap(*value);
    Bitmap& dst = *bitmap(*series);
    int64_t cols = std::min<int64_t>(src.width, W - c0), rows = std::min<int64_t>(src.height, H - r0);
    for (int64_t r = 0; r < rows; ++r)
        std::copy_n(&src.pixels[size_t(r) * src.width], cols, &dst.pixels[size_t((r0 + r) * W + c0)]);
    if (rows > 0) series->w1 = uint32_t((r0 + rows - 1) * W + std::min(c0 + src.width, W));
    notify(*series, fixed::word_changed, value, head, cols * rows);
    return series;
}

void init() {
    using namespace registry;
    Row row;
    row.inherit({slot_back, slot_head, slot_head_q, slot_index_q, slot_modify});
    row.set(slot_make, make);
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_at, at);
    row.set(slot_change, change);
    row.set(slot_copy, copy);
    row.set(slot_length_q, length_q);
    row.set(slot_next, next);
    row.set(slot_pick, pick);
    row.set(slot_poke, poke);
    row.set(slot_skip, skip);
    row.set(slot_tail, tail);
    row.set(slot_tail_q, tail_q);
    row.register_as(type_image, type_series, "image!");
}

}  // namespace vyr::image_t
