#include "runtime/case_tables.h"

#include <algorithm>


namespace vyr::case_tables {

namespace {
#include "runtime/case_data.inc"

void fill(uint32_t* table, std::span<const CasePair> list) {
    for (const CasePair& p : list) table[p.from] = p.to;
}
}  // namespace

uint32_t* to_upper_table = nullptr;
uint32_t* to_lower_table = nullptr;

namespace {
// Zero-filled static storage: the system maps it on first touch, so start-up
// writes only the pages that the pairs fall in.
uint32_t upper_storage[table_entries];
uint32_t lower_storage[table_entries];
}  // namespace

void init_case_tables() {
    if (to_upper_table) return;
    to_upper_table = upper_storage;
    to_lower_table = lower_storage;
    fill(to_upper_table, bmp_to_upper);
    fill(to_lower_table, bmp_to_lower);
}

// Outside the list's key range a character maps to itself; inside it, to the
// partner of an equal key, or to itself when no key matches.
uint32_t supplementary_case(uint32_t cp, bool upper) {
    std::span<const CasePair> list = upper ? std::span<const CasePair>(supp_to_upper) : supp_to_lower;
    auto it = std::lower_bound(list.begin(), list.end(), cp,
                               [](const CasePair& p, uint32_t key) { return p.from < key; });
    return it != list.end() && it->from == cp ? it->to : cp;
}

std::span<const CasePair> pairs(PairList which) {
    switch (which) {
        case PairList::bmp_upper: return bmp_to_upper;
        case PairList::bmp_lower: return bmp_to_lower;
        case PairList::supplementary_upper: return supp_to_upper;
        case PairList::supplementary_lower: return supp_to_lower;
    }
    return {};
}

}  // namespace vyr::case_tables
