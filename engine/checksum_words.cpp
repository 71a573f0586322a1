#include "engine/checksum_words.h"

#include <string>

#include "datatypes/symbol.h"

namespace vyr::checksum {

namespace {
int32_t method_symbols[method_count];
}  // namespace

void checksum_init() {
    for (size_t i = 0; i < method_count; ++i) {
        std::string name(method_names[i]);
        method_symbols[i] = symbol_t::resolve_alias(symbol_t::make(name.c_str()));
    }
}

bool method_of_symbol(int32_t symbol, Method& out) {
    int32_t id = symbol_t::resolve_alias(symbol);
    for (size_t i = 0; i < method_count; ++i) {
        if (method_symbols[i] != id) continue;
        out = Method(i);
        return true;
    }
    return false;
}

}  // namespace vyr::checksum
