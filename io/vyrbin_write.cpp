// The VYRBIN writers (see vyrbin.h): one value into a compact or standard
// image, with its symbol table.
//
// Sharing: the node that identifies a value (the context node of a bound
// word, an object, error or function; the series node of the rest) is
// recorded with its index path when first written. The path is the stack of
// positions of the enclosing values, each counted within its parent: the
// elements of a series, the fields of an object or error, the argument block (0) and
// the body (1) of a function. A later occurrence is written as that path.
// The readers resolve paths over the decoded values in the same terms.
#include <bit>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/image-backend/bitmap.h"
#include "datatypes/image.h"
#include "datatypes/map.h"
#include "datatypes/symbol.h"
#include "io/vyrbin.h"
#include "io/vyrbin_format.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::vyrbin {

namespace {

using namespace format;

class Writer {
public:
    explicit Writer(bool compact) : compact_(compact) {}

    // Each value is a root record; the positions of index paths count them.
    std::vector<uint8_t> image(std::span<const Cell> roots) {
        for (const Cell& v : roots) value(v);
        std::vector<uint8_t> records;
        records.swap(out_);
        bool symbols = !symbols_.empty();
        out_.assign(magic, magic + sizeof magic);
        out_.push_back(writer_version);
        out_.push_back(uint8_t((compact_ ? flag_compact : 0) | (symbols ? flag_symbols : 0)));
        field(uint32_t(roots.size()));
        field(uint32_t(records.size()));
        if (symbols) table();
        out_.insert(out_.end(), records.begin(), records.end());
        return std::move(out_);
    }

private:
    // ---- Emitting ----------------------------------------------------------

    void byte(uint8_t b) { out_.push_back(b); }
    void raw32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out_.push_back(uint8_t(v >> (8 * i)));
    }
    void uleb(uint32_t v) {
        while (v >= 0x80) {
            out_.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        out_.push_back(uint8_t(v));
    }
    void field(uint32_t v) { compact_ ? uleb(v) : raw32(v); }
    void signed_field(int32_t v) {
        if (compact_) uleb((uint32_t(v) << 1) ^ uint32_t(v >> 31));
        else raw32(uint32_t(v));
    }
    void data(const uint8_t* p, size_t n) {
        out_.insert(out_.end(), p, p + n);
        if (!compact_) out_.resize(out_.size() + (4 - n % 4) % 4, 0);
    }
    // The record's head: compact, the type byte (bit 6 = `flag`); standard,
    // the header word with its bits. The new-line mark comes from the value.
    void head(uint32_t type, bool flag, uint32_t bits = 0) {
        if (compact_) {
            uint8_t f = flag ? type_flag : 0;
            if (type < long_type) {
                byte(uint8_t(type | f));
            } else {
                byte(uint8_t(long_type | f));
                uleb(type);
            }
        } else {
            raw32(type | bits | (new_line_ ? std_new_line : 0));
        }
    }

    uint32_t slot(int32_t symbol) {
        auto found = slots_.find(symbol);
        if (found != slots_.end()) return found->second;
        auto s = uint32_t(symbols_.size());
        symbols_.push_back(symbol);
        slots_.emplace(symbol, s);
        return s;
    }

    void table() {
        std::vector<uint8_t> names;
        std::vector<uint32_t> offsets;
        for (int32_t symbol : symbols_) {
            offsets.push_back(uint32_t(names.size()));
            std::string_view name = symbol_t::name(symbol);
            names.insert(names.end(), name.begin(), name.end());
            names.push_back(0);
            if (!compact_) names.resize((names.size() + 7) & ~size_t(7), 0);
        }
        field(uint32_t(symbols_.size()));
        field(uint32_t(names.size()));
        for (uint32_t o : offsets) raw32(o);
        out_.insert(out_.end(), names.begin(), names.end());
    }

    // ---- Sharing -----------------------------------------------------------

    // Answers true when the node was written before; else records its path
    // and opens its level of positions.
    bool enter(NodeId node) {
        stack_.push_back(position_);
        if (paths_.count(node)) {
            stack_.pop_back();
            return true;
        }
        paths_.emplace(node, stack_);
        position_ = 0;
        return false;
    }
    void leave() {
        position_ = stack_.back();
        stack_.pop_back();
    }
    void path_of(NodeId node) {
        const std::vector<int32_t>& p = paths_.at(node);
        if (!compact_) raw32(reference_type);
        field(uint32_t(p.size()));
        for (int32_t i : p) field(uint32_t(i));
    }

    [[noreturn]] void refuse(const Cell& v) {
        Cell arg = v;
        raise_error(err_cat::access, err_id::access::no_codec, &arg);
    }

    // ---- Values ------------------------------------------------------------

    void value(const Cell& v) {
        if (nesting_ >= max_nesting) raise_error(err_cat::internal, err_id::internal::too_deep);
        ++nesting_;
        struct Leave {
            uint32_t& depth;
            ~Leave() { --depth; }
        } leave_level{nesting_};
        uint32_t t = type_of(v);
        new_line_ = v.header & header::new_line;
        if (compact_ && new_line_) byte(prefix_new_line);
        switch (t) {
            case type_none: case type_unset:
                head(t, false);
                break;
            case type_datatype:
                head(t, false);
                field(v.w1);
                break;
            case type_logic:
                if (compact_) byte(v.w1 == 1 ? byte_true : byte_false);
                else head(t, false), raw32(v.w1 == 1);
                break;
            case type_integer: {
                auto i = int32_t(v.w2);
                if (compact_ && i >= 0 && i < 64) {
                    byte(uint8_t(small_integer + i));
                } else {
                    head(t, false);
                    signed_field(i);
                }
                break;
            }
            case type_char:
                head(t, false);
                field(v.w2);
                break;
            case type_pair:
                head(t, false);
                signed_field(int32_t(v.w2));
                signed_field(int32_t(v.w3));
                break;
            case type_point2d:
                head(t, false);
                raw32(v.w1), raw32(v.w2);
                break;
            case type_point3d:
                head(t, false);
                raw32(v.w1), raw32(v.w2), raw32(v.w3);
                break;
            case type_float: case type_time: case type_percent:
                real(v);
                break;
            case type_date:
                if (compact_ && !(v.w1 & date_has_time)) {
                    head(t, false);
                    raw32(v.w1);
                } else {
                    head(t, true);
                    raw32(v.w1), raw32(v.w2), raw32(v.w3);
                }
                break;
            case type_typeset: {
                head(t, false);
                uint8_t map[12];
                std::memcpy(map, &v.w1, 4), std::memcpy(map + 4, &v.w2, 4), std::memcpy(map + 8, &v.w3, 4);
                if (compact_) {
                    uint8_t n = 12;
                    while (n > 0 && map[n - 1] == 0) --n;
                    byte(n);
                    data(map, n);
                } else {
                    data(map, 12);
                }
                break;
            }
            case type_tuple: {
                uint32_t n = (v.header & header::tuple_size_mask) >> header::tuple_size_shift;
                uint8_t b[12];
                std::memcpy(b, &v.w1, 4), std::memcpy(b + 4, &v.w2, 4), std::memcpy(b + 8, &v.w3, 4);
                if (compact_) {
                    head(t, n != 3);
                    if (n != 3) byte(uint8_t(n));
                    data(b, n);
                } else {
                    head(t, false, n << 8);
                    data(b, 12);
                }
                break;
            }
            case type_money: {
                bool negative = v.header & money_sign;
                head(t, negative, negative ? std_negative : 0);
                raw32(v.w1), raw32(v.w2), raw32(v.w3);
                break;
            }
            case type_issue:
                head(t, false);
                field(slot(int32_t(v.w2)));
                break;
            case type_native: case type_action:
                native(v, t);
                break;
            case type_op: {
                uint32_t wrapped = (v.header & header::op_type_mask) >> header::op_type_shift;
                if (wrapped != type_native && wrapped != type_action && wrapped != type_function) refuse(v);
                head(t, false, wrapped << header::op_type_shift);
                Cell inner = v;
                inner.header = wrapped;
                value(inner);
                return;  // the wrapped record counted the position
            }
            case type_error:
                error(v);
                break;
            case type_word: case type_set_word: case type_lit_word: case type_get_word: case type_refinement:
                word(v, t);
                break;
            case type_object: case type_function:
                owner(v, t, false);
                break;
            case type_block: case type_paren: case type_path: case type_lit_path: case type_set_path:
            case type_get_path: case type_hash: case type_map: case type_string: case type_file: case type_url:
            case type_tag: case type_email: case type_ref: case type_binary: case type_vector: case type_bitset:
                series(v, t);
                break;
            case type_image:
                image(v);
                break;
            default:
                refuse(v);
        }
        ++position_;
    }

    void real(const Cell& v) {
        uint32_t t = type_of(v);
        double d = cell_float(v);
        bool negative_zero = d == 0 && std::signbit(d);
        if (compact_ && !negative_zero) {
            if (t == type_percent) {
                if (d >= -21474836.0 && d <= 21474836.0) {
                    double k = std::round(d * 100);  // halves away from zero
                    if (k / 100.0 == d) {
                        head(t, true);
                        signed_field(int32_t(k));
                        return;
                    }
                }
            } else if (d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d)) {
                head(t, true);
                signed_field(int32_t(d));
                return;
            }
        }
        head(t, false);
        raw32(v.w2), raw32(v.w3);
    }

    // Series records: the head index, then the whole buffer from its head.
    void series(const Cell& v, uint32_t t) {
        NodeId node = v.w2;
        memory::SeriesBuffer* b = memory::buffer_of(node);
        bool shared = enter(node);
        if (compact_ && shared) byte(prefix_shared);
        bool has_head = t != type_map && t != type_bitset;
        uint32_t index = has_head ? v.w1 : 0;
        uint32_t unit = b->unit();
        uint32_t bits = shared ? std_shared : 0;
        if (t == type_bitset && (b->flags & bitset_t::complemented)) bits |= std_complemented;
        if (t == type_string || t == type_file || t == type_url || t == type_tag || t == type_email ||
            t == type_ref || t == type_vector)
            bits |= unit << 8;
        if (t == type_bitset) head(t, bits & std_complemented, bits);
        else head(t, index != 0, bits);
        if (has_head && (index != 0 || !compact_)) field(index);
        if (!compact_ && t == type_map) field(0);
        if (shared) {
            path_of(node);
            return;
        }
        uint32_t length = b->length();
        switch (t) {
            case type_string: case type_file: case type_url: case type_tag: case type_email: case type_ref:
                if (compact_) uleb(length << 2 | (unit == 1 ? 0 : unit == 2 ? 1 : 2));
                else raw32(length);
                data(b->head_ptr(), b->used());
                break;
            case type_binary: case type_bitset:
                field(b->used());
                data(b->head_ptr(), b->used());
                break;
            case type_vector:
                if (compact_) {
                    byte(uint8_t(v.w3 << 2 | (unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3)));
                    uleb(length);
                } else {
                    raw32(length);
                    raw32(v.w3);
                }
                data(b->head_ptr(), b->used());
                break;
            case type_map:
                map(node);
                break;
            default:
                field(length);
                for (uint32_t i = 0; i < length; ++i) value(*memory::cell_at(node, i));
        }
        leave();
    }

    // An image: its head index, then its size and every pixel as the four
    // stored bytes (B, G, R, A). The pixel record is what is shared; an image
    // without pixels has none and is always written whole, as 0 x 0.
    void image(const Cell& v) {
        NodeId record = v.w2;
        bool shared = record && enter(record);
        if (compact_ && shared) byte(prefix_shared);
        head(type_image, v.w1 != 0, shared ? std_shared : 0);
        if (v.w1 != 0 || !compact_) field(v.w1);
        if (shared) {
            path_of(record);
            return;
        }
        const image_backend::Bitmap* bitmap = record ? image_backend::bitmap_of(record) : nullptr;
        uint32_t width = bitmap ? bitmap->width : 0, height = bitmap ? bitmap->height : 0;
        if (compact_) {
            uleb(width);
            uleb(height);
        } else {
            raw32(width | height << 16);
        }
        static_assert(std::endian::native == std::endian::little, "pixels are stored as B, G, R, A bytes");
        if (bitmap) data(reinterpret_cast<const uint8_t*>(bitmap->pixels.data()), bitmap->pixels.size() * 4);
        if (record) leave();
    }

    // The live pairs only: a removed pair is marked in its value's header.
    void map(NodeId node) {
        uint32_t n = memory::series_length(node) & ~1u;
        uint32_t live = 0;
        for (uint32_t i = 0; i < n; i += 2)
            if (memory::cell_at(node, i + 1)->header != map_t::removed_header) live += 2;
        field(live);
        for (uint32_t i = 0; i < n; i += 2) {
            if (memory::cell_at(node, i + 1)->header == map_t::removed_header) continue;
            value(*memory::cell_at(node, i));
            value(*memory::cell_at(node, i + 1));
        }
    }

    // The value that owns a context, when it is one the readers can rebuild.
    static bool writable_owner_q(NodeId ctx, Cell& owner) {
        if (!ctx || ctx == context_t::global_context) return false;
        owner = *context_t::self_slot(ctx);
        return type_of(owner) == type_object || type_of(owner) == type_function;
    }

    void word(const Cell& v, uint32_t t) {
        Cell owner;
        if (!writable_owner_q(v.w1, owner)) {
            // Read back bound to the global context.
            head(t, false, std_word_flag);
            field(slot(int32_t(v.w2)));
            return;
        }
        bool shared = enter(v.w1);
        if (compact_ && shared) byte(prefix_shared);
        head(t, true, shared ? std_shared : 0);
        field(slot(int32_t(v.w2)));
        signed_field(int32_t(v.w3));
        if (shared) {
            path_of(v.w1);
            return;
        }
        // The owner follows in full, on the word's own level of positions.
        uint32_t ot = type_of(owner);
        bool events = ot == type_object && owner.w3;
        head(ot, events, events ? std_events : 0);
        owner_body(owner, ot);
        leave();
    }

    void owner(const Cell& v, uint32_t t, bool) {
        bool shared = enter(v.w1);
        bool events = t == type_object && v.w3 && !shared;
        if (compact_ && shared) byte(prefix_shared);
        head(t, events, (shared ? std_shared : 0) | (events ? std_events : 0));
        if (shared) {
            path_of(v.w1);
            return;
        }
        owner_body(v, t);
        leave();
    }

    void owner_body(const Cell& v, uint32_t t) {
        NodeId ctx = v.w1;
        if (t == type_object) {
            signed_field(int32_t(v.w2));
            if (v.w3) {
                signed_field(int32_t(memory::cell_at(v.w3, 0)->w2));
                signed_field(int32_t(memory::cell_at(v.w3, 1)->w2));
            }
        } else {
            field(memory::series_length(v.w2));
            Cell body = *memory::cell_at(v.w3, function_t::record::body);
            field(type_of(body) == type_block ? memory::series_length(body.w2) : 0);
        }
        context_body(ctx);
        if (t == type_function) {
            Cell spec{type_block, 0, v.w2, 0};
            Cell body = *memory::cell_at(v.w3, function_t::record::body);
            if (type_of(body) != type_block) body = Cell{type_block, 0, memory::alloc_cells(1), 0};
            body.header = type_block;
            body.w1 = 0;
            value(spec);
            value(body);
        }
    }

    void context_body(NodeId ctx) {
        const Cell c = *context_t::context_cell(ctx);
        uint32_t kind = context_t::kind_of(c);
        bool on_stack = context_t::values_on_stack(c);
        bool object = c.header & header::context_object;
        uint32_t n = context_t::word_count(ctx);
        bool values = false;
        if (!on_stack) {
            for (uint32_t i = 0; i < n; ++i)
                if (type_of(*context_t::context_value_at(ctx, int32_t(i))) != type_unset) values = true;
        }
        if (compact_) {
            byte(type_context);
            byte(uint8_t(kind | (on_stack ? context_on_stack : 0) | (object ? context_object : 0) |
                         (values ? context_values : 0)));
        } else {
            raw32(type_context | kind << std_context_kind_shift | (object ? std_context_object : 0) |
                  (on_stack ? std_context_on_stack : 0) | (values ? std_context_values : 0));
        }
        field(n);
        for (uint32_t i = 0; i < n; ++i) field(slot(int32_t(context_t::word_at(ctx, int32_t(i))->w2)));
        if (values) {
            for (uint32_t i = 0; i < n; ++i) value(*context_t::context_value_at(ctx, int32_t(i)));
        }
    }

    // A native's argument block is written in full on the native's own level:
    // index paths reach its elements through the native.
    void native(const Cell& v, uint32_t t) {
        head(t, false);
        field(v.w1 + 1);
        stack_.push_back(position_);
        position_ = 0;
        bool line = new_line_;
        new_line_ = false;
        uint32_t n = memory::series_length(v.w2);
        if (compact_) {
            byte(type_block);
        } else {
            raw32(type_block);
            raw32(0);
        }
        field(n);
        for (uint32_t i = 0; i < n; ++i) value(*memory::cell_at(v.w2, i));
        new_line_ = line;
        leave();
    }

    void error(const Cell& v) {
        bool seen = paths_.count(v.w1);
        stack_.push_back(position_);
        if (!seen) paths_.emplace(v.w1, stack_);
        position_ = 0;
        head(type_error, false);
        Cell code = *error_t::field_at(v, error_t::field::code);
        field(type_of(code) == type_integer ? code.w2 : 0);
        for (uint32_t i = error_t::field::arg1; i <= error_t::field::stack; ++i) value(*error_t::field_at(v, i));
        leave();
    }

    bool compact_;
    bool new_line_ = false;
    std::vector<uint8_t> out_;
    std::vector<int32_t> symbols_;
    std::unordered_map<int32_t, uint32_t> slots_;
    std::unordered_map<NodeId, std::vector<int32_t>> paths_;
    std::vector<int32_t> stack_;
    uint32_t nesting_ = 0;  // values being written, one inside the other
    int32_t position_ = 0;
};

}  // namespace

std::vector<uint8_t> encode(const Cell& value, bool compact) {
    codec_q = true;
    Writer writer(compact);
    return writer.image({&value, 1});
}

std::vector<uint8_t> encode_roots(std::span<const Cell> values, bool compact) {
    codec_q = true;
    Writer writer(compact);
    return writer.image(values);
}

}  // namespace vyr::vyrbin
