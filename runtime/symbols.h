// The symbol table, interning, and the lookup of a symbol in a context's
// word table.
//
// Every spelling is interned once as a symbol: a symbol! cell appended to the
// symbol block, identified by its 1-based position there (the symbol id).
// Interning preserves case: each distinct spelling gets its own symbol, and a
// spelling that differs from an earlier one only in ASCII letter case records
// that earlier symbol as its alias. Case-insensitive matching of words
// compares canonical ids (symbol_t::resolve_alias).
//
// Invariants:
//   - symbol cells are only ever appended, so a symbol id never changes;
//   - an alias names a canonical symbol (one without alias), never another
//     variant: the variant met first on a probe sequence can itself be a
//     variant once a re-bucketing has reordered the sequence, so the alias
//     is resolved when the symbol is made;
//   - the symbol table hashes folded names (hash::hash_symbol_name), so all
//     ASCII case variants of a name share one probe sequence; a word table
//     hashes canonical ids, so all variants of a word share one too.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyr::symbols {

inline constexpr uint32_t symbol_block_cells = 4000;
inline constexpr int32_t symbol_table_size = 4000;
// A symbol cell: w1 the alias (no_alias for a canonical spelling), w2 the
// node of its cached string (0 until made), w3 the node of its UTF-8 name
// (the bytes, then a NUL just past the tail).
inline constexpr int32_t no_alias = -1;
// Word and symbol tables grow 16 or 32 times at once (not double).
inline constexpr uint32_t name_table_growth = 16;

extern NodeId symbol_block;
extern NodeId symbol_table;

// Start-up: the symbol block (4000 cells), then the symbol table over it.
void make_symbol_block();

// The alias a symbol was made with (no_alias for none or a bad id), and the
// symbol that a chain of aliases ends at.
int32_t alias_of(int32_t id);
int32_t resolve_alias(int32_t id);

// resolve_alias for a run of look-ups that makes no symbol and allocates
// nothing: the symbol cells' address is read once.
class CanonicalIds {
public:
    CanonicalIds() {
        if (!symbol_block) return;
        memory::SeriesBuffer* b = memory::buffer_of(symbol_block);
        cells_ = b->cells();
        count_ = b->used() / memory::cell_width;
    }
    // Aliases are kept resolved when symbols are made; the walk is bounded
    // so that a damaged alias cannot loop.
    int32_t operator()(int32_t id) const {
        for (int hops = 0; hops < 4 && id > 0 && uint32_t(id) <= count_; ++hops) {
            auto alias = int32_t(cells_[id - 1].w1);
            if (alias <= 0) return id;
            id = alias;
        }
        return id;
    }
    uint32_t count() const { return count_; }

private:
    const Cell* cells_ = nullptr;
    uint32_t count_ = 0;
};

void make_symbol_table();

// The id of the spelling, made when needed. With `lookup`, a spelling whose
// ASCII case variant exists answers that variant's id and nothing is made.
int32_t intern_symbol(NodeId table, const uint8_t* name, uint32_t length, bool lookup);

// The index of the symbol's word in the word table's block, or -1. With
// `fold` any ASCII case variant matches. With a context node and the symbol
// absent, a word bound to the context is appended, its index stored in
// *index, and -1 answered; a match also stores its index there.
int32_t context_find_word(NodeId table, int32_t symbol, bool fold, NodeId context, int32_t* index);

// Word cell i of a context's word block (context given by its context cell).
Cell* context_word_at(const Cell& context, int32_t i);
memory::SeriesBuffer* context_words_buffer(const Cell& context);
NodeId context_words_node(const Cell& context);

}  // namespace vyr::symbols
