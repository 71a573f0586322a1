// The runtime's fixed words (see fixed_words.h).
#include "datatypes/fixed_words.h"

#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"

namespace vyr::fixed {

#define VYR_DEFINE_SYMBOL(name, text) int32_t sym_##name = 0;
#define VYR_DEFINE_WORD(name, from) Cell word_##name{};
#define VYR_DEFINE_REFINEMENT(name, text) Cell ref_##name{};
VYR_FIXED_SYMBOLS(VYR_DEFINE_SYMBOL)
VYR_FIXED_SYMBOL_WORDS(VYR_DEFINE_WORD)
VYR_FIXED_TEXT_WORDS(VYR_DEFINE_WORD)
VYR_FIXED_REFINEMENTS(VYR_DEFINE_REFINEMENT)
#undef VYR_DEFINE_SYMBOL
#undef VYR_DEFINE_WORD
#undef VYR_DEFINE_REFINEMENT
Cell issue_ooo{};

namespace {
// Keeps a word global valid across collections that renumber nodes.
void root(Cell& cell) { collector::add_root_cells(&cell, 1); }
}  // namespace

void make_fixed_words() {
#define VYR_MAKE_SYMBOL(name, text) sym_##name = symbol_t::make(text);
#define VYR_MAKE_SYMBOL_WORD(name, from) \
    word_##name = word_t::make_global_from_symbol(sym_##from); \
    root(word_##name);
#define VYR_MAKE_TEXT_WORD(name, text) \
    word_##name = word_t::make_global(text); \
    root(word_##name);
#define VYR_MAKE_REFINEMENT(name, text) ref_##name = refinement_t::load_text_in(text);
    VYR_FIXED_SYMBOLS(VYR_MAKE_SYMBOL)
    VYR_FIXED_SYMBOL_WORDS(VYR_MAKE_SYMBOL_WORD)
    VYR_FIXED_TEXT_WORDS(VYR_MAKE_TEXT_WORD)
    VYR_FIXED_REFINEMENTS(VYR_MAKE_REFINEMENT)
#undef VYR_MAKE_SYMBOL
#undef VYR_MAKE_SYMBOL_WORD
#undef VYR_MAKE_TEXT_WORD
#undef VYR_MAKE_REFINEMENT
    issue_ooo = issue_t::load_text("ooo");
    root(issue_ooo);
}

}  // namespace vyr::fixed
