// The words that name checksum methods (`checksum/method`), interned at
// start-up so that a method is found by its symbol.
#pragma once

#include <cstdint>

#include "runtime/checksum.h"

namespace vyr::checksum {

// Start-up: interns the method words, in the order of `method_names`.
void checksum_init();
// The method a word's symbol names (in any letter case); false for another word.
bool method_of_symbol(int32_t symbol, Method& out);

}  // namespace vyr::checksum
