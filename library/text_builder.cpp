// Text built in C++ memory (see text_builder.h).
#include "library/text_builder.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "datatypes/string.h"
#include "runtime/errors.h"
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

// Chunks of long output: big enough that a chunk costs little, small
// enough that filling one reuses the cache.
constexpr size_t chunk_bytes = size_t(1) << 20;

void TextBuilder::grow(size_t more) {
    if (bytes_.size() >= chunk_bytes) {
        spilled_ += bytes_.size();
        chunks_.push_back(std::move(bytes_));
        bytes_ = std::vector<uint8_t>();
        bytes_.reserve(std::max(chunk_bytes, more));
        return;
    }
    bytes_.reserve(std::max(2 * bytes_.capacity(), bytes_.size() + std::max<size_t>(more, 64)));
}

void TextBuilder::flatten() {
    if (chunks_.empty()) return;
    std::vector<uint8_t> all;
    all.reserve(spilled_ + bytes_.size());
    for (const auto& c : chunks_) all.insert(all.end(), c.begin(), c.end());
    all.insert(all.end(), bytes_.begin(), bytes_.end());
    chunks_.clear();
    spilled_ = 0;
    bytes_ = std::move(all);
}

void TextBuilder::append_ascii(const char* text) { append_ascii(text, std::strlen(text)); }

void TextBuilder::append_text(const Cell& text) {
    Units u = Units::of(text);
    if (u.width == 1 && width_ == 1) {
        // A 1-byte buffer may hold Latin-1 above 127, which needs 2 here.
        bool ascii = true;
        for (size_t i = 0; i < u.count; ++i) ascii &= u.bytes[i] < 0x80;
        if (ascii) {
            append_units(u.bytes, u.count);
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

uint32_t TextBuilder::at(size_t i) {
    flatten();
    switch (width_) {
        case 1: return bytes_[i];
        case 2: { uint16_t u; std::memcpy(&u, &bytes_[2 * i], 2); return u; }
        default: { uint32_t u; std::memcpy(&u, &bytes_[4 * i], 4); return u; }
    }
}

void TextBuilder::widen_for(uint32_t cp) {
    unsigned width = string_t::char_unit(cp);
    if (width <= width_) return;
    for (auto& c : chunks_) c = rewidth(c.data(), c.size() / width_, width_, width);
    spilled_ = spilled_ / width_ * width;
    bytes_ = rewidth(bytes_.data(), bytes_.size() / width_, width_, width);
    width_ = width;
    limit_ = width == 2 ? 0x10000 : UINT32_MAX;
}

Cell TextBuilder::make_string() const {
    size_t total = spilled_ + bytes_.size();
    if (total > memory::max_series_bytes) raise_error(err_cat::internal, err_id::internal::no_memory);
    uint32_t count = uint32_t(total / width_);
    NodeId node = memory::alloc_series(count ? count : 1, width_, 0);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    uint8_t* at = b->head_ptr();
    for (const auto& c : chunks_) {
        std::memcpy(at, c.data(), c.size());
        at += c.size();
    }
    if (!bytes_.empty()) std::memcpy(at, bytes_.data(), bytes_.size());
    b->tail = b->head + uint32_t(total);
    return string_t::make_cell(node);
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
