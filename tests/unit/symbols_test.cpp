// Interning: case variants and their aliases, lookup mode, names and their
// cached strings, growth of the symbol table, aliases across re-bucketing,
// and word-table lookups.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"
#include "runtime/hash.h"
#include "runtime/memory.h"

using namespace vyr;
namespace field = hash::field;

namespace {

class SymbolsTest : public test::RuntimeTest {};

int32_t intern(const std::string& s, bool lookup = false) {
    return symbols::intern_symbol(symbols::symbol_table, reinterpret_cast<const uint8_t*>(s.data()),
                                  uint32_t(s.size()), lookup);
}

}  // namespace

TEST_F(SymbolsTest, CaseVariantsGetTheirOwnIdsAliasedToTheFirstSpelling) {
    int32_t print = intern("print");
    int32_t Print = intern("Print");
    int32_t PRINT = intern("PRINT");
    EXPECT_NE(print, Print);
    EXPECT_NE(Print, PRINT);
    EXPECT_EQ(intern("Print"), Print);
    EXPECT_EQ(symbol_t::alias_of(print), symbols::no_alias);
    EXPECT_EQ(symbol_t::alias_of(Print), print);
    EXPECT_EQ(symbol_t::alias_of(PRINT), print);
    EXPECT_EQ(symbol_t::resolve_alias(PRINT), print);
    EXPECT_EQ(symbol_t::resolve_alias(print), print);
}

TEST_F(SymbolsTest, LookupModeAnswersAnExistingVariant) {
    int32_t first = intern("Lookup-Me");
    uint32_t count = symbol_t::count();
    EXPECT_EQ(intern("LOOKUP-me", true), first);
    EXPECT_EQ(symbol_t::make_alias_free("lookup-ME"), first);
    EXPECT_EQ(symbol_t::count(), count);  // nothing made
    int32_t fresh = symbol_t::make_alias_free("never-seen");
    EXPECT_EQ(symbol_t::alias_of(fresh), symbols::no_alias);
}

TEST_F(SymbolsTest, NamesCompareByLengthAndAsciiCaseOnly) {
    int32_t ab = intern("ab");
    int32_t abc = intern("abc");
    EXPECT_NE(ab, abc);
    EXPECT_EQ(symbol_t::alias_of(abc), symbols::no_alias);  // not a variant of a prefix
    int32_t ete = intern("\xC3\xA9t\xC3\xA9");                 // été
    int32_t ETE = intern("\xC3\x89T\xC3\x89");                 // ÉTÉ
    EXPECT_NE(ete, ETE);
    EXPECT_EQ(symbol_t::alias_of(ETE), symbols::no_alias);  // non-ASCII letters are not folded
    int32_t Ete = intern("\xC3\xA9T\xC3\xA9");                 // éTé: an ASCII variant of été
    EXPECT_EQ(symbol_t::alias_of(Ete), ete);
}

TEST_F(SymbolsTest, NamesAreStoredWithATrailingNul) {
    int32_t id = intern("hello");
    const Cell& c = *memory::cell_at(symbols::symbol_block, uint32_t(id - 1));
    EXPECT_EQ(type_of(c), uint32_t(type_symbol));
    EXPECT_EQ(c.w2, 0u);  // no cached string yet
    memory::SeriesBuffer* name = memory::buffer_of(c.w3);
    EXPECT_EQ(name->used(), 5u);
    EXPECT_EQ(name->head_ptr()[5], 0);
    EXPECT_EQ(symbol_t::name(id), "hello");
}

TEST_F(SymbolsTest, CachedStringsDecodeTheName) {
    int32_t id = symbol_t::make("caf\xC3\xA9\xE2\x82\xAC");  // café€
    Cell* s = symbol_t::get(id);
    ASSERT_NE(s->w2, 0u);
    memory::SeriesBuffer* b = memory::buffer_of(s->w2);
    EXPECT_EQ(b->unit(), 2u);
    EXPECT_EQ(b->length(), 5u);
    EXPECT_EQ(reinterpret_cast<const uint16_t*>(b->head_ptr())[3], 0xE9);
    EXPECT_EQ(reinterpret_cast<const uint16_t*>(b->head_ptr())[4], 0x20AC);
    NodeId cached = s->w2;
    EXPECT_EQ(symbol_t::get(id)->w2, cached);  // made once
    const auto* units = reinterpret_cast<const uint16_t*>(symbol_t::c_text(id));
    EXPECT_EQ(units[5], 0);
    EXPECT_EQ(memory::buffer_of(cached)->length(), 5u);  // the tail did not move
}

TEST_F(SymbolsTest, TextFromAStringIsInternedFromItsIndex) {
    NodeId n = memory::alloc_units(8, 2);
    memory::SeriesBuffer* b = memory::buffer_of(n);
    const char16_t text[] = u"xyz\u00E9";
    std::memcpy(b->head_ptr(), text, 8);
    b->tail = 8;
    int32_t id = symbol_t::from_string(Cell{type_string, 1, n, 0}, -1);
    EXPECT_EQ(symbol_t::name(id), "yz\xC3\xA9");
    EXPECT_EQ(symbol_t::from_string(Cell{type_string, 1, n, 0}, 2), symbol_t::make("yz"));
}

TEST_F(SymbolsTest, SymbolCompareFoldsUnlessCaseSensitive) {
    Cell a = *symbol_t::get(symbol_t::make("abc"));
    Cell b = *symbol_t::get(symbol_t::make("ABC"));
    Cell c = *symbol_t::get(symbol_t::make("abd"));
    EXPECT_EQ(symbol_t::compare(&a, &b, registry::op_equal), 0);
    EXPECT_EQ(symbol_t::compare(&a, &b, registry::op_strict_equal), 1);  // "a" is greater than "A"
    EXPECT_EQ(symbol_t::compare(&a, &b, registry::op_same), -1);
    EXPECT_EQ(symbol_t::compare(&a, &c, registry::op_lesser), -1);
    Cell ab = *symbol_t::get(symbol_t::make("ab"));
    EXPECT_EQ(symbol_t::compare(&ab, &a, registry::op_lesser), -1);
    EXPECT_EQ(symbol_t::compare(&ab, &a, registry::op_equal), 1);
    Cell i{type_integer, 0, 1, 0};
    EXPECT_EQ(symbol_t::compare(&a, &i, registry::op_equal), registry::not_comparable);
}

// The table grows 32 times at once, before the search, once it holds as
// many symbols as its bound; names already interned keep their ids.
TEST_F(SymbolsTest, TheSymbolTableGrowsFrom16384To524288Buckets) {
    NodeId t = symbols::symbol_table;
    EXPECT_EQ(hash::table_buckets(t), 16384u);
    int32_t early = intern("early");
    for (int i = 0; hash::record(t, field::count) < hash::record(t, field::bound); ++i) intern("s" + std::to_string(i));
    EXPECT_EQ(hash::table_buckets(t), 16384u);
    EXPECT_EQ(intern("early"), early);  // an existing name, but the table grows first
    EXPECT_EQ(hash::table_buckets(t), 524288u);
    EXPECT_EQ(intern("s100"), intern("s100"));
    EXPECT_EQ(symbol_t::name(intern("s100")), "s100");
}

// A variant's alias names the canonical spelling even when re-bucketing put
// another variant first on the probe sequence.
TEST_F(SymbolsTest, AliasesStayResolvedAfterTheTableIsRebuilt) {
    NodeId t = symbols::symbol_table;
    uint32_t mask = hash::table_buckets(t) - 1;
    // A name whose probe starts at the last bucket: its first variant wraps
    // to bucket 0, which re-bucketing visits first.
    std::string name;
    for (int i = 0;; ++i) {
        name = "wrap" + std::to_string(i);
        if ((hash::hash_bytes(name.data(), name.size()) & mask) == mask) break;
    }
    std::string capitalized = name, upper = name;
    capitalized[0] = 'W';
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    int32_t first = intern(name);
    int32_t second = intern(capitalized);
    ASSERT_EQ(symbol_t::alias_of(second), first);
    for (int i = 0; hash::record(t, field::count) < hash::record(t, field::bound); ++i) intern("f" + std::to_string(i));
    intern("trigger");
    ASSERT_EQ(hash::table_buckets(t), 524288u);
    int32_t third = intern(upper);
    EXPECT_EQ(symbol_t::alias_of(third), first);
    EXPECT_EQ(symbol_t::resolve_alias(third), first);
}

TEST_F(SymbolsTest, ContextFindWordMatchesVariantsOnlyWhenFolding) {
    NodeId ctx = context_t::make(4, false, false, no_node, context_t::kind_object);
    NodeId table = context_t::context_cell(ctx)->w1;
    int32_t key = symbol_t::make("key");
    int32_t Key = symbol_t::make("Key");
    int32_t index = -7;
    EXPECT_EQ(symbols::context_find_word(table, Key, true, ctx, &index), -1);  // added
    EXPECT_EQ(index, 0);
    EXPECT_EQ(symbols::context_find_word(table, key, true, no_node, nullptr), 0);
    EXPECT_EQ(symbols::context_find_word(table, key, false, no_node, nullptr), -1);
    EXPECT_EQ(symbols::context_find_word(table, Key, false, no_node, nullptr), 0);
    const Cell& w = *symbols::context_word_at(*context_t::context_cell(ctx), 0);
    EXPECT_EQ(w.w1, ctx);
    EXPECT_EQ(int32_t(w.w2), Key);
    EXPECT_EQ(w.w3, 0u);
    EXPECT_EQ(symbols::context_find_word(table, key, true, ctx, &index), 0);  // found, not added
    EXPECT_EQ(symbols::context_words_buffer(*context_t::context_cell(ctx))->length(), 1u);
}

TEST_F(SymbolsTest, SymbolsSurviveStressCollections) {
    std::vector<int32_t> ids;
    for (int i = 0; i < 500; ++i) ids.push_back(intern("keep-" + std::to_string(i)));
    symbol_t::get(ids[3]);  // a cached string too
    stress_collect();
    stress_collect();
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(symbol_t::name(ids[size_t(i)]), "keep-" + std::to_string(i));
        ASSERT_EQ(intern("keep-" + std::to_string(i)), ids[size_t(i)]);
    }
    EXPECT_EQ(memory::buffer_of(symbol_t::get(ids[3])->w2)->length(), 6u);
}
