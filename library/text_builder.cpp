// Text built in C++ memory (see text_builder.h).
#include "library/text_builder.h"

#include <climits>
#include <cstring>

#include "datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace vyr::library {

namespace {

template <typename From, typename To>
void convert_units(const uint8_t* from, size_t count, uint8_t* to) {
    for (size_t i = 0; i < count; ++i) {
        From f;
        std::memcpy(&f, from + i * sizeof(From), sizeof(From));
        To t = To(f);
        std::memcpy(to + i * sizeof(To), &t, sizeof(To));
    }
}

// Units of one width re-encoded at another (never narrower than the values).
std::vector<uint8_t> rewidth(const uint8_t* from, size_t count, unsigned from_width, unsigned to_width) {
    std::vector<uint8_t> out(count * to_width);
    if (from_width == to_width) {
        std::memcpy(out.data(), from, count * to_width);
    } else if (from_width == 1) {
        if (to_width == 2) convert_units<uint8_t, uint16_t>(from, count, out.data());
        else convert_units<uint8_t, uint32_t>(from, count, out.data());
    } else if (from_width == 2) {
        if (to_width == 1) convert_units<uint16_t, uint8_t>(from, count, out.data());
        else convert_units<uint16_t, uint32_t>(from, count, out.data());
    } else {
        if (to_width == 1) convert_units<uint32_t, uint8_t>(from, count, out.data());
        else convert_units<uint32_t, uint16_t>(from, count, out.data());
    }
    return out;
}

}  // namespace

void TextBuilder::append_ascii(const char* text, size_t n) {
    if (width_ == 1) {
        bytes_.insert(bytes_.end(), text, text + n);
        return;
    }
    for (size_t i = 0; i < n; ++i) append(uint8_t(text[i]));
}

void TextBuilder::append_ascii(const char* text) { append_ascii(text, std::strlen(text)); }

void TextBuilder::append_text(const Cell& text) {
    Units u = Units::of(text);
    if (u.width == 1 && width_ == 1) {
        // A 1-byte buffer may hold Latin-1 above 127, which needs 2 here.
        bool ascii = true;
        for (size_t i = 0; i < u.count; ++i) ascii &= u.bytes[i] < 0x80;
        if (ascii) {
            bytes_.insert(bytes_.end(), u.bytes, u.bytes + u.count);
            return;
        }
    }
    for (size_t i = 0; i < u.count; ++i) append(u[i]);
}

void TextBuilder::append_formed(const Cell& value, bool mold) {
    stack::Mark mark;
    Cell* buffer = stack::push_copy(Cell{});
    string_t::make_at(*buffer, 64);
    Cell v = value;
    if (mold) string_t::mold_value(v, *buffer, INT32_MAX, false);
    else string_t::form_value(v, *buffer, INT32_MAX, false);
    append_text(*buffer);
    mark.restore();
}

void TextBuilder::append_utf8(std::string_view utf8) {
    stack::Mark mark;
    Cell* text = string_t::push_from_utf8(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()));
    append_text(*text);
    mark.restore();
}

uint32_t TextBuilder::at(size_t i) const {
    switch (width_) {
        case 1: return bytes_[i];
        case 2: { uint16_t u; std::memcpy(&u, &bytes_[2 * i], 2); return u; }
        default: { uint32_t u; std::memcpy(&u, &bytes_[4 * i], 4); return u; }
    }
}

void TextBuilder::widen_for(uint32_t cp) {
    unsigned width = string_t::char_unit(cp);
    if (width <= width_) return;
    bytes_ = rewidth(bytes_.data(), length(), width_, width);
    width_ = width;
    limit_ = width == 2 ? 0x10000 : UINT32_MAX;
}

Cell TextBuilder::make_string() const {
    Cell cell{};
    string_t::make_from_units_at(cell, bytes_.data(), uint32_t(length()), width_);
    return cell;
}

Units Units::of(const Cell& text) {
    Units u;
    memory::SeriesBuffer* b = memory::buffer_of(text.w2);
    u.width = b->unit();
    size_t total = b->length();
    size_t index = text.w1 < total ? text.w1 : total;
    u.count = total - index;
    u.bytes = b->head_ptr() + index * u.width;
    return u;
}

Cell make_string_of(const Units& units, size_t from, size_t to) {
    uint32_t highest = 0;
    for (size_t i = from; i < to; ++i) {
        uint32_t cp = units[i];
        if (cp > highest) highest = cp;
    }
    unsigned width = string_t::char_unit(highest);
    Cell cell{};
    const uint8_t* start = units.bytes + from * units.width;
    if (width == units.width) {
        string_t::make_from_units_at(cell, start, uint32_t(to - from), width);
    } else {
        std::vector<uint8_t> narrowed = rewidth(start, to - from, units.width, width);
        string_t::make_from_units_at(cell, narrowed.data(), uint32_t(to - from), width);
    }
    return cell;
}

}  // namespace vyr::library
