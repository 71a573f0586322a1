// The VYRBIN readers (see vyrbin.h): the container, the compact and the
// standard record grammars, index paths, and start-up's boot decoding.
//
// One reader serves both encodings: the record heads differ (prefix bytes and
// a header byte, or one header word) and so do the integer fields (LEB128 or
// 32-bit words), but every type builds its value the same way. A value that
// holds others is appended to its block before they are read, so that an
// index path met inside it (a cycle) finds it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/date.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/image-backend/bitmap.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "io/lz77.h"
#include "io/vyrbin.h"
#include "io/vyrbin_format.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr::vyrbin {

bool codec_q = false;

namespace {

using namespace format;

// Set while a boot callback runs: an error then is the callback's own.
bool in_callback = false;

Cell integer_cell(int32_t v) { return Cell{type_integer, 0, uint32_t(v), 0}; }

uint32_t load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// What a record's head says.
struct Head {
    uint32_t type;
    bool flag;        // compact: header bit 6
    bool shared;      // 0xC1 prefix / header bit 19
    bool new_line;    // 0xC0 prefix / header bit 31
    bool set;         // 0xC4 prefix / boot-mode header bit 25
    uint32_t word;    // standard: the whole header word
    const uint8_t* at;
};

// A word waiting for the context of the owner record that follows it.
struct WaitingWord {
    NodeId block;
    uint32_t position;
    int32_t index;
};

class Reader {
public:
    // `payload` is where the records' counts start; error positions count
    // from the first magic byte, as if the payload followed the header.
    Reader(const uint8_t* payload, bool compact, Mode mode, const Cell& target)
        : payload_(payload), compact_(compact), mode_(mode), target_(target),
          root_base_(memory::series_length(target.w2)) {}

    // After each root record: the callback, then the target read again from
    // where it is kept (a collection may have moved its block).
    void each_root(EachRoot each, const Cell* kept) {
        each_ = each;
        kept_ = kept;
    }

    // Reads the payload from `at` (the records' counts, the symbol table,
    // the records) into the target. `end` bounds the input.
    void payload(const uint8_t* at, const uint8_t* end, bool symbols) {
        p_ = at;
        end_ = end;
        uint32_t records_length;
        if (compact_) {
            uleb();  // root count: not used
            records_length = uleb();
        } else {
            need(8);
            raw32();
            records_length = raw32();
        }
        if (symbols) table(end);
        if (int32_t(records_length) < 0 || records_length > size_t(end - p_)) corrupt();
        end_ = p_ + records_length;
        uint32_t root = 0;
        while (p_ < end_) {
            record(target_.w2);
            if (!each_) continue;
            uint32_t n = memory::series_length(target_.w2);
            if (n == 0) continue;  // a set-word record leaves nothing
            bool was = collector::enabled();
            collector::set_enabled(collection_);
            in_callback = true;
            each_(root++, *memory::cell_at(target_.w2, n - 1));
            in_callback = false;
            collector::set_enabled(was);
            target_ = *kept_;
        }
    }
    bool collection_ = false;  // boot: the collector's state while `each` runs

private:
    // ---- Positions and errors ----------------------------------------------

    [[noreturn]] void corrupt(const uint8_t* at) const {
        Cell pos = integer_cell(int32_t(at - payload_ + header_size) + 1);
        raise_error(err_cat::script, err_id::script::ze_ruzovir_uraziz, &pos);
    }
    [[noreturn]] void corrupt() const { corrupt(p_ < end_ ? p_ : end_); }
    [[noreturn]] void refuse(uint32_t type) const {
        Cell t = datatype_t::value_of(type);
        raise_error(err_cat::access, err_id::access::no_codec, &t);
    }
    size_t left() const { return size_t(end_ - p_); }
    void need(size_t n) const {
        if (left() < n) corrupt();
    }
    bool codec() const { return mode_ == Mode::codec; }

    // ---- Fields ------------------------------------------------------------

    uint8_t byte() {
        need(1);
        return *p_++;
    }
    uint32_t raw32() {
        need(4);
        uint32_t v = load32(p_);
        p_ += 4;
        return v;
    }
    uint32_t uleb() {
        if (p_ < end_ && *p_ < 0x80) return *p_++;  // the common one-byte form
        const uint8_t* at = p_;
        uint32_t v = 0;
        for (int i = 0; i < 5; ++i) {
            uint8_t b = byte();
            if (i == 4 && b >= 0x10) corrupt(at);
            v |= uint32_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        corrupt(at);
    }
    // An unsigned field: LEB128 or a word.
    uint32_t unsigned_field() { return compact_ ? uleb() : raw32(); }
    // A signed field: zigzag or a word.
    int32_t signed_field() {
        if (!compact_) return int32_t(raw32());
        uint32_t u = uleb();
        return int32_t((u >> 1) ^ (0u - (u & 1)));
    }
    // A count of things that each take at least one byte.
    uint32_t count() {
        const uint8_t* at = p_;
        uint32_t n = unsigned_field();
        if (int32_t(n) < 0 || n > left()) corrupt(at);
        return n;
    }
    // A head index: compact writes it only with bit 6.
    uint32_t head_index(const Head& h) {
        if (compact_ && !h.flag) return 0;
        const uint8_t* at = p_;
        uint32_t v = unsigned_field();
        if (int32_t(v) < 0) corrupt(at);
        return v;
    }
    const uint8_t* bytes(size_t n) {
        need(n);
        const uint8_t* at = p_;
        p_ += n;
        // The standard encoding pads data to whole words.
        if (!compact_) {
            size_t pad = (4 - n % 4) % 4;
            need(pad);
            p_ += pad;
        }
        return at;
    }

    // ---- Symbol table ------------------------------------------------------

    void table(const uint8_t* end) {
        const uint8_t* at = p_;
        uint32_t count = unsigned_field();
        uint32_t size = unsigned_field();
        size_t r = size_t(end - p_);
        if (int32_t(count) < 0 || int32_t(size) < 0 || count > r / 4 || size > r - 4 * size_t(count)) corrupt(at);
        offsets_ = p_;
        strings_ = p_ + 4 * size_t(count);
        if (size > 0 && strings_[size - 1] != 0) corrupt(strings_ + size - 1);
        symbol_count_ = count;
        strings_size_ = size;
        symbol_ids_.assign(count, 0);
        global_slots_.assign(count, 0);
        p_ = strings_ + size;
    }

    int32_t symbol() { return symbol_ids_[symbol_slot()]; }

    // Reads a symbol reference; answers its slot in the table, the symbol
    // interned.
    uint32_t symbol_slot() {
        const uint8_t* at = p_;
        uint32_t slot = unsigned_field();
        if (slot >= symbol_count_) corrupt(at);
        if (!symbol_ids_[slot]) intern_slot(slot, at);
        return slot;
    }

    // The first reference to a symbol of the table: its name checked and
    // interned. Out of line, so that the frequent reference above stays a
    // few instructions.
    [[gnu::noinline]] void intern_slot(uint32_t slot, const uint8_t* at) {
        uint32_t offset = load32(offsets_ + 4 * size_t(slot));
        if (offset >= strings_size_) corrupt(at);
        const uint8_t* name = strings_ + offset;
        auto length = uint32_t(std::strlen(reinterpret_cast<const char*>(name)));  // the area ends with 0
        if (length == 0) corrupt(at);
        // Names are UTF-8: every symbol's text is read back as such. The
        // boot image is the build's own.
        for (uint32_t i = 0; codec() && i < length;) {
            unicode::Utf8Char c = unicode::utf8_decode_lenient(name + i, length - i);
            if (c.status != unicode::Utf8Status::ok) corrupt(at);
            i += c.length;
        }
        symbol_ids_[slot] = symbol_t::intern_text(name, length);
    }

    // ---- Making values -----------------------------------------------------

    // New buffers: the boot image's carry the boot-origin flag, and are
    // private to the boot code until a function takes one as its body.
    NodeId new_series(uint32_t units, uint32_t width) {
        NodeId n = width == memory::cell_width ? memory::alloc_cells(units ? units : 1)
                                                : memory::alloc_units(units, width);
        if (mode_ == Mode::boot) memory::set_series_flags(n, memory::flag::boot_origin | memory::flag::boot_private);
        return n;
    }
    // Appends the cell; answers its position.
    // Blocks are made with room for their count: growing is the rare case,
    // kept out of line.
    uint32_t append(NodeId into, Cell c, bool new_line) {
        if (new_line) c.header |= header::new_line;
        memory::SeriesBuffer* b = memory::buffer_of(into);
        if (b->tail + memory::cell_width > b->capacity) return append_growing(into, c);
        *reinterpret_cast<Cell*>(b->tail_ptr()) = c;
        b->tail += memory::cell_width;
        return b->used() / memory::cell_width - 1;
    }
    [[gnu::noinline]] static uint32_t append_growing(NodeId into, const Cell& c) {
        uint32_t at = memory::series_length(into);
        *series::alloc_tail_cell(into) = c;
        return at;
    }
    void patch(NodeId into, uint32_t position, Cell c) {
        uint32_t nl = memory::cell_at(into, position)->header & header::new_line;
        c.header |= nl;
        *memory::cell_at(into, position) = c;
    }

    // ---- Index paths -------------------------------------------------------

    // Reads an index path (standard: a complete reference record) and
    // answers a copy of the cell it names.
    Cell path() {
        const uint8_t* at = p_;
        if (!compact_ && raw32() != reference_type) corrupt(at);
        at = p_;
        uint32_t k = unsigned_field();
        if (k < 1 || k > max_path || k > left()) corrupt(at);
        path_.resize(k);
        for (uint32_t i = 0; i < k; ++i) path_[i] = int32_t(unsigned_field());
        return resolve(at);
    }

    Cell resolve(const uint8_t* at) {
        Cell v = target_;
        v.w1 = 0;
        for (size_t i = 0; i < path_.size(); ++i) {
            int32_t k = path_[i];
            uint32_t t = type_of(v);
            NodeId cells = 0;
            int32_t base = 0;
            if (any_word_q(t) || t == type_refinement) {
                NodeId ctx = v.w1;
                if (!ctx) corrupt(at);
                if (context_t::values_on_stack(*context_t::context_cell(ctx))) {
                    v = *context_t::self_slot(ctx);
                    if (type_of(v) != type_function) corrupt(at);
                    t = type_function;
                } else {
                    cells = context_t::context_cell(ctx)->w2;
                }
            }
            if (any_block_q(t) || t == type_map) {
                cells = t == type_map ? cells_of_map(v.w2) : v.w2;
            } else if (t == type_object || t == type_error) {
                cells = context_t::context_cell(v.w1)->w2;
                if (t == type_error) base = 3;
            } else if (t == type_native || t == type_action) {
                cells = v.w2;
            } else if (t == type_function || (t == type_op && op_wraps_function(v))) {
                if (k == 0) {
                    Cell spec{type_block, 0, v.w2, 0};
                    if (i + 1 == path_.size()) return spec;
                    v = spec;
                    continue;  // the next index picks from the argument block
                }
                if (k != 1 || t != type_function) corrupt(at);
                v = *memory::cell_at(v.w3, function_t::record::body);
                if (type_of(v) != type_block) corrupt(at);
                continue;
            } else if (!cells) {
                corrupt(at);
            }
            int64_t e = int64_t(base) + k;
            if (!cells || e < 0 || e >= int64_t(memory::series_length(cells))) corrupt(at);
            v = *memory::cell_at(cells, uint32_t(e));
        }
        return v;
    }

    // The cells an index path counts in a map: those of the pairs block while
    // the map's own pairs are being read.
    NodeId cells_of_map(NodeId map) const {
        for (const auto& [node, pairs] : building_maps_)
            if (node == map) return pairs;
        return map;
    }

    static bool op_wraps_function(const Cell& op) {
        return ((op.header & header::op_type_mask) >> header::op_type_shift) == type_function;
    }

    // ---- Records -----------------------------------------------------------

    // Counts one level of records for the time a record is being read.
    struct Nested {
        explicit Nested(uint32_t& depth) : depth_(depth) { ++depth_; }
        ~Nested() { --depth_; }
        uint32_t& depth_;
    };

    // Three records in four of a boot image are words of the global
    // context: a header byte with no flag, after a new-line prefix or none,
    // then the symbol. They are appended here as read_word_boot would,
    // without the general record path; false, nothing read, for any other.
    bool plain_boot_word(NodeId into) {
        const uint8_t* q = p_;
        bool new_line = q < end_ && *q == prefix_new_line;
        if (new_line) ++q;
        if (q >= end_ || *q < type_word || *q > type_refinement) return false;
        uint32_t type = *q;
        p_ = q + 1;
        append(into, global_word(symbol_slot(), type), new_line);
        return true;
    }

    void record(NodeId into) {
        if (boot_words_ && plain_boot_word(into)) return;
        if (p_ >= end_) corrupt();
        if (nesting_ >= max_nesting) corrupt();
        Nested nested(nesting_);
        Head h{};
        if (compact_) {
            for (;;) {
                uint8_t b = *p_;
                if (b == prefix_new_line) h.new_line = true;
                else if (b == prefix_shared) h.shared = true;
                else if (b == prefix_set) {
                    if (codec()) corrupt();
                    h.set = true;
                } else break;
                if (++p_ >= end_) corrupt();
            }
            h.at = p_;
            uint8_t b = *p_++;
            if (b >= 0x80) {
                if (h.shared || h.set) corrupt(h.at);
                Cell c;
                if (b < 0xC0) c = integer_cell(b & 0x3F);
                else if (b == byte_true) c = logic_t::value_of(true);
                else if (b == byte_false) c = logic_t::value_of(false);
                else if (b == byte_copy) c = copied();
                else corrupt(h.at);
                append(into, c, h.new_line);
                return;
            }
            h.type = b & 63;
            h.flag = b & 0x40;
            if (h.type == 63) h.type = uleb();
        } else {
            do {
                if (p_ >= end_) return;  // padding words up to the end
                h.at = p_;
                h.word = raw32();
                h.type = h.word & 0xFF;
            } while (h.type == 0);
            h.shared = h.word & std_shared;
            h.new_line = h.word & std_new_line;
            h.set = mode_ == Mode::boot && (h.word & std_word_flag) && h.type >= type_word && h.type <= type_issue;
            if (h.type == reference_type) {
                p_ = h.at;
                append(into, copied(), h.new_line);
                return;
            }
        }
        if (h.type == 0) corrupt(h.at);
        if (h.set && (h.type < type_word || h.type > type_issue)) corrupt(h.at);
        if (h.shared && !shares_q(h.type)) corrupt(h.at);
        value(h, into);
    }

    // The value a copy record names. An error is always written whole, so a
    // copy of an error still being read would put the error inside itself:
    // no writer makes that, and nothing could write it again.
    Cell copied() {
        const uint8_t* at = p_;
        Cell c = path();
        if (type_of(c) == type_error)
            for (NodeId open : errors_being_read_)
                if (open == c.w1) corrupt(at);
        return c;
    }

    // Types whose records may name an earlier value instead of holding one.
    static bool shares_q(uint32_t t) {
        return any_block_q(t) || t == type_string || t == type_file || t == type_url || t == type_tag ||
               t == type_email || t == type_ref || t == type_binary || t == type_bitset || t == type_vector ||
               t == type_map || t == type_image || t == type_object || t == type_function || all_word_q(t);
    }

    void value(const Head& h, NodeId into) {
        switch (h.type) {
            case type_datatype: {
                const uint8_t* at = p_;
                uint32_t t = unsigned_field();
                if (t < 1 || t > type_event) corrupt(at);
                return (void)append(into, datatype_t::value_of(t), h.new_line);
            }
            case type_unset:
            case type_none:
                return (void)append(into, Cell{h.type, 0, 0, 0}, h.new_line);
            case type_logic:
                if (compact_) corrupt(h.at);
                return (void)append(into, logic_t::value_of(raw32() != 0), h.new_line);
            case type_block: case type_paren: case type_path: case type_lit_path: case type_set_path:
            case type_get_path: case type_hash:
                return read_block(h, into);
            case type_string: case type_file: case type_url: case type_tag: case type_email: case type_ref:
                return read_text(h, into);
            case type_binary:
                return read_binary(h, into);
            case type_char: {
                const uint8_t* at = p_;
                uint32_t cp = unsigned_field();
                if (cp > 0x10FFFF) corrupt(at);
                return (void)append(into, Cell{type_char, 0, cp, 0}, h.new_line);
            }
            case type_integer:
                return (void)append(into, integer_cell(signed_field()), h.new_line);
            case type_float: case type_percent: case type_time:
                return read_float(h, into);
            case type_context:
                return read_owner(h, into, nullptr);
            case type_word: case type_set_word: case type_lit_word: case type_get_word: case type_refinement:
                return read_word(h, into);
            case type_issue: {
                Cell c = word_t::make_global_from_symbol(symbol());
                set_type(c, type_issue);
                c.w3 = word_t::unresolved;
                return (void)append(into, c, h.new_line);
            }
            case type_native: case type_action:
                return read_native(h, into);
            case type_op:
                return read_op(h, into);
            case type_function: case type_object:
                if (h.shared) return append_owner_of(h, into);
                return read_owner(h, into, nullptr);
            case type_bitset:
                return read_bitset(h, into);
            case type_typeset:
                return read_typeset(h, into);
            case type_error:
                return read_error(h, into);
            case type_vector:
                return read_vector(h, into);
            case type_pair: {
                int32_t x = signed_field();
                int32_t y = signed_field();
                return (void)append(into, Cell{type_pair, 0, uint32_t(x), uint32_t(y)}, h.new_line);
            }
            case type_tuple:
                return read_tuple(h, into);
            case type_map:
                return read_map(h, into);
            case type_date:
                return read_date(h, into);
            case type_money:
                return read_money(h, into);
            case type_point2d: {
                uint32_t x = raw32();
                uint32_t y = raw32();
                return (void)append(into, Cell{type_point2d, x, y, 0}, h.new_line);
            }
            case type_point3d: {
                uint32_t x = raw32();
                uint32_t y = raw32();
                uint32_t z = raw32();
                return (void)append(into, Cell{type_point3d, x, y, z}, h.new_line);
            }
            case type_image:
                return read_image(h, into);
            case type_routine: case type_triple: case type_handle: case type_port: case type_event:
                refuse(h.type);
            default:
                corrupt(h.at);
        }
    }

    // ---- Series ------------------------------------------------------------

    // The storage a series record reads or shares: retyping a shared value
    // stays within one storage kind, so no buffer is ever read as another.
    static int storage_of(uint32_t t) {
        if (any_block_q(t) && t != type_hash) return 1;
        switch (t) {
            case type_string: case type_file: case type_url: case type_tag: case type_email: case type_ref:
                return 2;
            default:
                return int(t) + 100;  // hash!, map!, binary!, bitset!, vector!: only their own type
        }
    }

    // A copy of the value the path names, as a series of the record's type
    // at the head index.
    void append_shared(const Head& h, NodeId into, uint32_t head, bool keep_index) {
        const uint8_t* at = p_;
        Cell v = path();
        if (storage_of(type_of(v)) != storage_of(h.type)) corrupt(at);
        uint32_t flags = v.header & ~(header::type_mask | header::new_line);
        if (any_block_q(h.type) && h.type != type_hash) v.w3 = 0;
        (void)flags;
        v.header = h.type;
        if (keep_index) v.w1 = clamp_head(v.w2, head);
        append(into, v, h.new_line);
    }

    // An index past the tail stands for the tail.
    static uint32_t clamp_head(NodeId node, uint32_t head) {
        uint32_t n = memory::series_length(node);
        return head > n ? n : head;
    }

    // A hash! has its table from the start, so that a reference to it from
    // inside its own cells names a complete hash!; the cells are indexed
    // once they are all read.
    void read_block(const Head& h, NodeId into) {
        uint32_t head = head_index(h);
        if (h.shared) return append_shared(h, into, head, true);
        uint32_t n = count();
        NodeId cells = new_series(n, memory::cell_width);
        Cell b{h.type, 0, cells, 0};
        if (h.type == type_hash) {
            Cell block{type_block, 0, cells, 0};
            b.w3 = hash::make_hash_table(int32_t(n ? n : 1), &block, hash::kind_block, 0);
        }
        uint32_t position = append(into, b, h.new_line);
        for (uint32_t i = 0; i < n; ++i) {
            if (!(boot_words_ && plain_boot_word(cells))) record(cells);
        }
        if (h.type == type_hash) hash::hash_table_index_all(b.w3, 0, 1);
        b.w1 = clamp_head(cells, head);
        patch(into, position, b);
    }

    void read_text(const Head& h, NodeId into) {
        uint32_t head = head_index(h);
        if (h.shared) return append_shared(h, into, head, true);
        const uint8_t* at = p_;
        uint32_t unit, length;
        if (compact_) {
            uint32_t e = uleb();
            if ((e & 3) == 3) corrupt(at);
            unit = 1u << (e & 3);
            length = e >> 2;
        } else {
            unit = (h.word >> 8) & 0xFF;
            if (unit != 1 && unit != 2 && unit != 4) corrupt(h.at);
            length = raw32();
        }
        if (uint64_t(length) * unit > left()) corrupt(at);
        const uint8_t* data = bytes(size_t(length) * unit);
        if (unit == 4) {
            for (uint32_t i = 0; i < length; ++i)
                if (load32(data + 4 * size_t(i)) > 0x10FFFF) corrupt(data + 4 * size_t(i));
        }
        NodeId node = new_series(length, unit);
        fill(node, data, size_t(length) * unit);
        append(into, Cell{h.type, clamp_head(node, head), node, 0}, h.new_line);
    }

    static void fill(NodeId node, const uint8_t* data, size_t n) {
        memory::SeriesBuffer* b = memory::buffer_of(node);
        if (n) std::memcpy(b->head_ptr(), data, n);
        b->tail = b->head + uint32_t(n);
    }

    void read_binary(const Head& h, NodeId into) {
        if (!compact_) {
            if (((h.word >> 8) & 0xFF) > 1) corrupt(h.at);
        }
        uint32_t head = head_index(h);
        if (h.shared) return append_shared(h, into, head, true);
        uint32_t n = count();
        const uint8_t* data = bytes(n);
        NodeId node = new_series(n, 1);
        fill(node, data, n);
        append(into, Cell{type_binary, clamp_head(node, head), node, 0}, h.new_line);
    }

    void read_bitset(const Head& h, NodeId into) {
        if (h.shared) return append_shared(h, into, 0, false);
        uint32_t n = count();
        const uint8_t* data = bytes(n);
        NodeId node = new_series(n, 1);
        fill(node, data, n);
        bool complemented = compact_ ? h.flag : (h.word & std_complemented);
        if (complemented) memory::set_series_flags(node, bitset_t::complemented);
        append(into, Cell{type_bitset, 0, node, 0}, h.new_line);
    }

    void read_vector(const Head& h, NodeId into) {
        uint32_t head = head_index(h);
        if (h.shared) return append_shared(h, into, head, true);
        const uint8_t* at = p_;
        uint32_t unit, element, length;
        if (compact_) {
            uint8_t d = byte();
            unit = 1u << (d & 3);
            element = d >> 2;
            length = uleb();
        } else {
            unit = (h.word >> 8) & 0xFF;
            length = raw32();
            element = raw32();
        }
        bool whole = element == type_char || element == type_integer;
        bool real = element == type_float || element == type_percent;
        if (!(whole && (unit == 1 || unit == 2 || unit == 4)) && !(real && (unit == 4 || unit == 8))) corrupt(at);
        if (uint64_t(length) * unit > left()) corrupt(at);
        const uint8_t* data = bytes(size_t(length) * unit);
        NodeId node = new_series(length, unit);
        fill(node, data, size_t(length) * unit);
        append(into, Cell{type_vector, clamp_head(node, head), node, element}, h.new_line);
    }

    // An image: its size, then every pixel as its four stored bytes. A
    // shared one names an earlier image (its pixels, not a copy of them).
    void read_image(const Head& h, NodeId into) {
        uint32_t head = head_index(h);
        if (h.shared) {
            const uint8_t* at = p_;
            Cell v = path();
            if (type_of(v) != type_image) corrupt(at);
            uint64_t pixels = image_t::pixel_count(v);
            v.header = type_image;
            v.w1 = head > pixels ? uint32_t(pixels) : head;
            return (void)append(into, v, h.new_line);
        }
        const uint8_t* at = p_;
        uint32_t width, height;
        if (compact_) {
            width = uleb();
            height = uleb();
        } else {
            uint32_t size = raw32();
            width = size & 0xFFFF;
            height = size >> 16;
        }
        if (width > image_backend::max_side || height > image_backend::max_side) corrupt(at);
        uint64_t n = uint64_t(width) * height * 4;
        if (n > left()) corrupt(at);
        const uint8_t* data = bytes(size_t(n));
        NodeId record = image_backend::image_create(width, height, {}, {}, nullptr);
        if (n) std::memcpy(image_backend::bitmap_of(record)->pixels.data(), data, size_t(n));
        Cell image;
        image_t::make_at(&image, record);
        image.w1 = head > n / 4 ? uint32_t(n / 4) : head;
        append(into, image, h.new_line);
    }

    // The map is made first and stands in the target while its pairs are
    // read into a block of their own, so that a reference from inside them
    // names the map itself; an index path into it meanwhile picks from that
    // block, in the order the pairs were written.
    void read_map(const Head& h, NodeId into) {
        if (!compact_) head_index(h);
        if (h.shared) return append_shared(h, into, 0, false);
        const uint8_t* at = p_;
        uint32_t n = count();
        if (n % 2) corrupt(at);
        Cell map;
        map_t::make_at(&map, nullptr, int32_t(n / 2));
        append(into, map, h.new_line);
        NodeId pairs = new_series(n, memory::cell_width);
        building_maps_.push_back({map.w2, pairs});
        for (uint32_t i = 0; i < n; ++i) record(pairs);
        building_maps_.pop_back();
        Cell* c = memory::cell_head(pairs);
        for (uint32_t i = 0; i < n; i += 2)
            if (!map_t::key_type_q(type_of(c[i]))) corrupt(at);
        // Built through the map's own insertion: keys are normalised and a
        // repeated key keeps its last value.
        map_t::add_pairs(&map, Cell{type_block, 0, pairs, 0}, true);
    }

    // ---- Scalars -----------------------------------------------------------

    void read_float(const Head& h, NodeId into) {
        double d;
        if (compact_ && h.flag) {
            int32_t i = signed_field();
            d = h.type == type_percent ? i / 100.0 : double(i);
        } else {
            uint32_t lo = raw32();
            uint32_t hi = raw32();
            uint64_t bits = uint64_t(hi) << 32 | lo;
            std::memcpy(&d, &bits, sizeof d);
        }
        Cell c{h.type, 0, 0, 0};
        set_cell_float(c, d);
        append(into, c, h.new_line);
    }

    void read_typeset(const Head& h, NodeId into) {
        uint8_t map[12] = {};
        if (compact_) {
            const uint8_t* at = p_;
            uint8_t b = byte();
            if (b > 12) corrupt(at);
            std::memcpy(map, bytes(b), b);
        } else {
            std::memcpy(map, bytes(12), 12);
        }
        Cell c{type_typeset, load32(map), load32(map + 4), load32(map + 8)};
        append(into, c, h.new_line);
    }

    void read_tuple(const Head& h, NodeId into) {
        const uint8_t* at = p_;
        uint32_t t = 3;
        if (compact_) {
            if (h.flag) t = byte();
        } else {
            t = (h.word >> 8) & 0xFF;
            at = h.at;
        }
        if (t < 1 || t > 12) corrupt(at);
        uint8_t b[12] = {};
        std::memcpy(b, bytes(compact_ ? t : 12), compact_ ? t : 12);
        if (!compact_) std::memset(b + t, 0, 12 - t);
        Cell c{type_tuple | (t << header::tuple_size_shift), load32(b), load32(b + 4), load32(b + 8)};
        append(into, c, h.new_line);
    }

    void read_date(const Head& h, NodeId into) {
        const uint8_t* at = p_;
        uint32_t packed = raw32();
        bool has_time = packed & date_has_time;
        double time = 0;
        if (compact_ && has_time != h.flag) corrupt(at);
        if (!compact_ || has_time) {
            uint32_t lo = raw32();
            uint32_t hi = raw32();
            uint64_t bits = uint64_t(hi) << 32 | lo;
            std::memcpy(&time, &bits, sizeof time);
            if (!has_time) time = 0;
        }
        // Only dates the calendar can make: the date routines index tables
        // by month and day.
        int32_t d = int32_t(packed);
        int32_t month = date_t::month_of(d), day = date_t::day_of(d);
        if (month < 1 || month > 12 || day < 1 ||
            date_t::from_days(date_t::day_count(d), date_t::zone_of(d), has_time) != d)
            corrupt(at);
        Cell c{type_date, packed, 0, 0};
        set_cell_float(c, time);
        append(into, c, h.new_line);
    }

    void read_money(const Head& h, NodeId into) {
        bool negative = compact_ ? h.flag : (h.word & std_negative);
        const uint8_t* at = p_;
        const uint8_t* b = bytes(12);
        for (int i = 1; i < 12; ++i)
            if ((b[i] >> 4) > 9 || (b[i] & 15) > 9) corrupt(at);
        Cell c{type_money | (negative ? money_sign : 0u), load32(b), load32(b + 4), load32(b + 8)};
        append(into, c, h.new_line);
    }

    // ---- Words -------------------------------------------------------------

    void read_word(const Head& h, NodeId into) {
        uint32_t slot = symbol_slot();
        int32_t sym = symbol_ids_[slot];
        if (mode_ == Mode::boot) return read_word_boot(h, into, slot);
        bool global = compact_ ? !h.flag : (h.word & std_word_flag);
        if (global) return (void)append(into, global_word(slot, h.type), h.new_line);
        const uint8_t* at = p_;
        int32_t index = signed_field();
        Cell c{h.type, 0, uint32_t(sym), uint32_t(index)};
        uint32_t position = append(into, c, h.new_line);
        WaitingWord waiting{into, position, index};
        if (h.shared) {
            Cell v = path();
            uint32_t t = type_of(v);
            NodeId ctx = 0;
            if (all_word_q(t) || t == type_object || t == type_error || t == type_function) ctx = v.w1;
            else if (t == type_op && op_wraps_function(v)) ctx = v.w1;
            if (!ctx) corrupt(at);
            bind_waiting(waiting, ctx, at);
            return;
        }
        // The owner of the word's context follows as a record of its own.
        Head owner{};
        owner.at = p_;
        if (compact_) {
            uint8_t b = byte();
            owner.type = b & 63;
            owner.flag = b & type_flag;
        } else {
            owner.word = raw32();
            owner.type = owner.word & 0xFF;
        }
        if (owner.type != type_object && owner.type != type_function) corrupt(owner.at);
        read_owner(owner, 0, &waiting);
    }

    // Boot images bind words through the root record that owns their
    // context (-1: the global context).
    void read_word_boot(const Head& h, NodeId into, uint32_t slot) {
        const uint8_t* at = p_;
        int32_t root = -1, index = -1;
        if (compact_) {
            if (h.flag) {
                root = int32_t(uleb());
                index = signed_field();
            }
        } else {
            root = int32_t(raw32());
            index = int32_t(raw32());
        }
        uint32_t position = append(into, global_word(slot, h.type), h.new_line);
        if (root != -1) {
            uint32_t cell = root_base_ + uint32_t(root);
            if (root < 0 || cell >= memory::series_length(target_.w2)) corrupt(at);
            Cell owner = *memory::cell_at(target_.w2, cell);
            uint32_t t = type_of(owner);
            if (!(all_word_q(t) || any_object_q(t) || t == type_function) || !owner.w1) corrupt(at);
            bind_waiting(WaitingWord{into, position, index}, owner.w1, at);
        }
        if (h.set) set_word(into, position);
    }

    // The word of a table symbol bound to the global context. The global
    // context only ever gains words, so the value slot found for a symbol
    // stays valid for the rest of the decoding and is looked up once.
    Cell global_word(uint32_t slot, uint32_t type) {
        int32_t sym = symbol_ids_[slot];
        int32_t& known = global_slots_[slot];
        if (!known) {
            Cell c{};
            word_t::make_at(sym, &c);
            known = int32_t(c.w3) + 1;
        }
        return Cell{type, context_t::global_context, uint32_t(sym), uint32_t(known - 1)};
    }

    // Boot mode's set-word record: the word takes the next record's value and
    // both leave the block.
    void set_word(NodeId into, uint32_t position) {
        record(into);
        if (memory::series_length(into) != position + 2) corrupt();
        Cell word = *memory::cell_at(into, position);
        Cell value = *memory::cell_at(into, position + 1);
        word.header &= ~header::new_line;
        value.header &= ~header::new_line;
        if (type_of(word) != type_issue) word_t::set(word, value);
        memory::buffer_of(into)->tail -= 2 * memory::cell_width;
    }

    // Gives the waiting word its context, checking that the index names an
    // entry of the word's own spelling.
    void bind_waiting(const WaitingWord& w, NodeId ctx, const uint8_t* at) {
        Cell c = *memory::cell_at(w.block, w.position);
        int32_t sym = int32_t(c.w2);
        int32_t index = w.index;
        uint32_t n = context_t::word_count(ctx);
        if (index == -1) index = context_t::find_word(ctx, sym, true);
        if (index < 0 || uint32_t(index) >= n) corrupt(at);
        Cell entry = *context_t::word_at(ctx, index);
        if (symbol_t::resolve_alias(int32_t(entry.w2)) != symbol_t::resolve_alias(sym)) corrupt(at);
        c.w1 = ctx;
        c.w3 = uint32_t(index);
        *memory::cell_at(w.block, w.position) = c;
    }

    // ---- Contexts, objects and functions -----------------------------------

    // A record naming an earlier object or function: the owner of the named
    // value's context is appended.
    void append_owner_of(const Head& h, NodeId into) {
        const uint8_t* at = p_;
        Cell v = path();
        uint32_t t = type_of(v);
        if (t == type_op && h.type == type_function && op_wraps_function(v)) {
            v.header = type_function;
            return (void)append(into, v, h.new_line);
        }
        if (!(any_object_q(t) || t == type_function || all_word_q(t)) || !v.w1) corrupt(at);
        Cell owner = *context_t::self_slot(v.w1);
        if (type_of(owner) != h.type) corrupt(at);
        append(into, owner, h.new_line);
    }

    // An object!, function! or context! record (without a path): appended to
    // `into` unless a word waits for its context.
    void read_owner(const Head& h, NodeId into, const WaitingWord* waiting) {
        int32_t class_id = -1;
        bool events = false;
        uint32_t spec_capacity = 0, body_capacity = 0;
        if (h.type == type_object) {
            class_id = signed_field();
            events = compact_ ? h.flag : (h.word & std_events);
            if (events) {
                signed_field();  // the handlers' positions: recomputed from the fields
                signed_field();
            }
            if (codec()) class_id = -1;
        } else if (h.type == type_function) {
            spec_capacity = count();
            body_capacity = count();
        }
        const uint8_t* at = p_;
        uint32_t kind, on_stack, object_flag, values_follow;
        if (compact_) {
            if (h.type != type_context && (byte() & 63) != type_context) corrupt(at);
            at = p_;
            uint8_t f = byte();
            kind = f & 3;
            on_stack = f & 4;
            object_flag = f & 8;
            values_follow = f & 16;
        } else {
            uint32_t w = raw32();
            if ((w & 0xFF) != type_context) corrupt(at);
            kind = (w >> 26) & 3;
            object_flag = w & (1u << 28);
            on_stack = w & (1u << 29);
            values_follow = w & (1u << 30);
        }
        // A function's locals live on the stack, an object's fields do not:
        // anything else would leave the evaluator without value cells.
        bool want_stack = h.type == type_function;
        if (kind > context_t::kind_object || bool(on_stack) != want_stack) corrupt(at);
        uint32_t n = count();
        NodeId ctx = context_t::make(n, on_stack, object_flag || h.type != type_function,
                                     no_node, kind);
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* sat = p_;
            int32_t sym = symbol();
            int32_t added = -1;
            if (context_t::find_word_case(ctx, sym, true, added) >= 0) corrupt(sat);
        }

        Cell owner;
        NodeId spec = 0, rec = 0;
        if (h.type == type_function) {
            spec = new_series(spec_capacity, memory::cell_width);
            rec = new_series(function_t::record::cells, memory::cell_width);
            NodeId body = new_series(body_capacity, memory::cell_width);
            for (uint32_t i = 0; i < function_t::record::cells; ++i) *series::alloc_tail_cell(rec) = Cell{type_unset, 0, 0, 0};
            *memory::cell_at(rec, function_t::record::body) = Cell{type_block, 0, body, 0};
            owner = Cell{type_function, ctx, spec, rec};
        } else {
            owner = Cell{type_object, ctx, uint32_t(class_id), 0};
        }
        *context_t::self_slot(ctx) = owner;
        uint32_t position = 0;
        if (waiting) bind_waiting(*waiting, ctx, at);
        else position = append(into, owner, h.new_line);

        if (!on_stack) {
            NodeId values = context_t::context_cell(ctx)->w2;
            if (values_follow) {
                for (uint32_t i = 0; i < n; ++i) record(values);
                if (memory::series_length(values) != n) corrupt();
            } else {
                for (uint32_t i = 0; i < n; ++i) *series::alloc_tail_cell(values) = Cell{type_unset, 0, 0, 0};
            }
        }
        if (h.type == type_function) {
            func_block(Cell{type_block, 0, owner.w2, 0}, [&](NodeId b) { owner.w2 = b; });
            func_block(*memory::cell_at(rec, function_t::record::body),
                       [&](NodeId b) { memory::cell_at(rec, function_t::record::body)->w2 = b; });
            owner.header |= checked_function(owner, at);
        } else if (h.type == type_object && events) {
            object_t::finish(owner);
        }
        *context_t::self_slot(ctx) = owner;
        if (!waiting) patch(into, position, owner);
    }

    // A function's spec or body: a block record into the block made for it,
    // or a path naming the block to use instead.
    template <typename Replace>
    void func_block(Cell block, Replace replace) {
        Head h{};
        h.at = p_;
        if (compact_) {
            for (;;) {
                if (p_ >= end_) corrupt();
                uint8_t b = *p_;
                if (b == prefix_new_line) h.new_line = true;
                else if (b == prefix_shared) h.shared = true;
                else break;
                ++p_;
            }
            h.at = p_;
            uint8_t b = byte();
            if ((b & 63) != type_block) corrupt(h.at);
            h.flag = b & 0x40;
        } else {
            h.word = raw32();
            if ((h.word & 0xFF) != type_block) corrupt(h.at);
            h.shared = h.word & std_shared;
        }
        head_index(h);
        if (h.shared) {
            const uint8_t* at = p_;
            Cell v = path();
            if (type_of(v) != type_block) corrupt(at);
            replace(v.w2);
            return;
        }
        uint32_t n = count();
        for (uint32_t i = 0; i < n; ++i) record(block.w2);
    }

    // The argument block must be one that `func` accepts and the locals must be the
    // words it declares, in order: the evaluator relies on both. Answers the
    // header flags of the argument block's attributes.
    uint32_t checked_function(const Cell& fn, const uint8_t* at) {
        Cell spec{type_block, 0, fn.w2, 0};
        uint32_t flags = function_t::check_spec(spec);
        NodeId expected = context_t::make_from_spec(spec, true, false, context_t::kind_function);
        uint32_t n = context_t::word_count(fn.w1);
        if (context_t::word_count(expected) != n) corrupt(at);
        for (uint32_t i = 0; i < n; ++i)
            if (context_t::word_at(expected, int32_t(i))->w2 != context_t::word_at(fn.w1, int32_t(i))->w2) corrupt(at);
        return flags;
    }

    // ---- Natives, operators, errors -----------------------------------------

    void read_native(const Head& h, NodeId into) {
        const uint8_t* at = p_;
        uint32_t index = unsigned_field();
        uint32_t limit = h.type == type_native ? native_t::native_slots : native_t::action_slots;
        if (index < 1 || index > limit) corrupt(at);
        NodeId scratch = memory::alloc_cells(2);
        const uint8_t* spec_at = p_;
        record(scratch);
        if (memory::series_length(scratch) != 1 || type_of(*memory::cell_head(scratch)) != type_block) corrupt(spec_at);
        // Made as `make native! [spec-block index]` makes it: the block must fit the
        // slot's own.
        *series::alloc_tail_cell(scratch) = integer_cell(int32_t(index));
        Cell arg{type_block, 0, scratch, 0};
        Cell result{};
        native_t::make(&result, &arg, h.type);
        append(into, result, h.new_line);
    }

    void read_op(const Head& h, NodeId into) {
        const uint8_t* at = p_;
        uint32_t before = memory::series_length(into);
        record(into);
        if (memory::series_length(into) != before + 1) corrupt(at);
        Cell* c = memory::cell_at(into, before);
        uint32_t t = type_of(*c);
        if (!compact_ && ((h.word & header::op_type_mask) >> header::op_type_shift) != t) corrupt(h.at);
        if (t != type_native && t != type_action && t != type_function) corrupt(at);
        c->header = type_op | (t << header::op_type_shift) | (h.new_line ? header::new_line : 0);
    }

    void read_error(const Head& h, NodeId into) {
        const uint8_t* at = p_;
        uint32_t code = unsigned_field();
        int category = int(code / 100), id = int(code % 100) + 2;
        if (int32_t(code) < 0 || type_of(error_t::category_word(category)) == type_none ||
            type_of(error_t::id_word(category, id)) == type_none)
            corrupt(at);
        Cell err = error_t::create_at(category, id);
        append(into, err, h.new_line);
        // The six fields are read into the error's own values, where index
        // paths find them.
        NodeId values = context_t::context_cell(err.w1)->w2;
        Cell files = *memory::cell_at(values, error_t::field::files);
        memory::buffer_of(values)->tail = memory::buffer_of(values)->head + error_t::field::arg1 * memory::cell_width;
        errors_being_read_.push_back(err.w1);
        for (int i = 0; i < 6; ++i) record(values);
        errors_being_read_.pop_back();
        if (memory::series_length(values) != error_t::field::files) corrupt(at);
        *series::alloc_tail_cell(values) = files;
    }

    const uint8_t* payload_;
    bool compact_;
    Mode mode_;
    bool boot_words_ = compact_ && mode_ == Mode::boot;  // plain_boot_word applies
    Cell target_;
    uint32_t root_base_;  // cells the target held before: root record r is cell root_base_ + r
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* strings_ = nullptr;
    uint32_t symbol_count_ = 0;
    uint32_t strings_size_ = 0;
    std::vector<int32_t> symbol_ids_;
    std::vector<int32_t> global_slots_;  // per symbol: its global value slot + 1, 0 until known
    std::vector<int32_t> path_;
    uint32_t nesting_ = 0;  // records being read, one inside the other
    std::vector<NodeId> errors_being_read_;  // their contexts
    std::vector<std::pair<NodeId, NodeId>> building_maps_;  // map node, its pairs block
    EachRoot each_ = nullptr;
    const Cell* kept_ = nullptr;
};

[[noreturn]] void boot_failure(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    std::exit(1);
}

}  // namespace

namespace {

void decode_with(std::span<const uint8_t> image, const Cell& target, Mode mode, const Cell* argument,
                 EachRoot each, const Cell* kept, bool collection) {
    auto bad_input = [&](const char* boot_message) {
        if (mode == Mode::boot) boot_failure(boot_message);
        if (argument) raise_error(err_cat::script, err_id::script::invalid_data, argument);
        Cell* bin = binary_t::push_bytes(image.data(), uint32_t(image.size()));
        raise_error(err_cat::script, err_id::script::invalid_data, bin);
    };
    if (image.size() < header_size || std::memcmp(image.data(), magic, sizeof magic) != 0)
        bad_input("Error: Not a Vyrbin file!");
    uint8_t flags = image[7];
    std::optional<std::vector<uint8_t>> unpacked;
    const uint8_t* payload = image.data() + header_size;
    const uint8_t* end = image.data() + image.size();
    if (flags & flag_compressed) {
        unpacked = lz77::decompress(image.subspan(header_size));
        if (!unpacked) bad_input("Error: Vyrbin compressed data corrupted!");
        payload = unpacked->data();
        end = payload + unpacked->size();
    }
    if (!(flags & flag_compact) && size_t(end - payload) < 8) bad_input("Error: Not a Vyrbin file!");
    // Error positions count from the first magic byte, as if the payload
    // followed the header where it stands.
    Reader reader(payload, flags & flag_compact, mode, target);
    if (each) {
        reader.each_root(each, kept);
        reader.collection_ = collection;
    }
    reader.payload(payload, end, flags & flag_symbols);
}

}  // namespace

void decode(std::span<const uint8_t> image, const Cell& target, Mode mode, const Cell* argument) {
    decode_with(image, target, mode, argument, nullptr, nullptr, false);
}

void decode_boot(std::span<const uint8_t> image, const Cell* target, EachRoot each) {
    codec_q = false;
    bool was = collector::enabled();
    collector::set_enabled(false);
    in_callback = false;
    try {
        decode_with(image, *target, Mode::boot, nullptr, each, target, was);
    } catch (...) {
        collector::set_enabled(was);
        // What the callback raised or threw goes on to start-up; a fault of
        // the image itself ends the process here.
        if (in_callback) throw;
        boot_failure("Error: Vyrbin boot image corrupted!");
    }
    collector::set_enabled(was);
}

}  // namespace vyr::vyrbin
