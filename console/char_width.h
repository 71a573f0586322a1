// The display width of a code point in a terminal: 0 (combining marks and
// other characters drawn on the previous one), 1, or 2 (East Asian wide and
// full-width characters). The tables are generated from the Unicode data by
// scripts/gen-char-width.py and committed (console/char_width_tables.inc).
#pragma once

#include <cstdint>

namespace vyr::console {

// 0 for 0; 1 for the other control codes (below 32, 127-159); 0 for the
// zero-width table; 2 for the wide table; else 1.
int char_width(int32_t cp);
// The same, but 2 for a character of ambiguous East Asian width, for
// terminals that draw those wide.
int char_width_ambiguous(int32_t cp);

}  // namespace vyr::console
