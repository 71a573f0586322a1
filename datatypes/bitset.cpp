// bitset!: helpers, actions and registration (see bitset.h).
#include "datatypes/bitset.h"

namespace vyr::bitset_t {

using memory::SeriesBuffer;

uint8_t* bits(const Cell& b) { return memory::buffer_of(node_of(b))->head_ptr(); }

uint32_t byte_length(const Cell& b) { return memory::buffer_of(node_of(b))->used(); }

bool member_q(const Cell& b, uint32_t n) {
    SeriesBuffer* buf = memory::buffer_of(node_of(b));
    if (byte_of(n) >= buf->used()) return buf->flags & complemented;
    return buf->head_ptr()[byte_of(n)] & mask_of(n);
}

}  // namespace vyr::bitset_t
