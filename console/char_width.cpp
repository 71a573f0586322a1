// Display width (see char_width.h).
#include "console/char_width.h"

#include <algorithm>
#include <iterator>

namespace vyr::console {

namespace {

struct Range {
    int32_t low, high;
};

#include "console/char_width_tables.inc"

template <size_t N>
bool in_table(int32_t cp, const Range (&table)[N]) {
    if (cp < table[0].low || cp > table[N - 1].high) return false;
    auto it = std::upper_bound(std::begin(table), std::end(table), cp,
                               [](int32_t c, const Range& r) { return c < r.low; });
    return it != std::begin(table) && cp <= std::prev(it)->high;
}

}  // namespace

int char_width(int32_t cp) {
    if (cp == 0) return 0;
    if (cp < 32 || (cp >= 127 && cp <= 159)) return 1;
    if (in_table(cp, zero_width_table)) return 0;
    if (in_table(cp, wide_table)) return 2;
    return 1;
}

int char_width_ambiguous(int32_t cp) { return in_table(cp, ambiguous_width_table) ? 2 : char_width(cp); }

}  // namespace vyr::console
