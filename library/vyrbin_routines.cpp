// The vyrbin codec's routines (see vyrbin_routines.h).
#include "library/vyrbin_routines.h"

#include <vector>

#include "datatypes/binary.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "io/vyrbin.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace vyr::library {

namespace {

// The smallest payload worth looking at: a header and a little more.
constexpr uint32_t min_payload = 11;

// `read/binary` of a file or URL, evaluated as a script would.
Status read_binary(Cell* args) {
    collector::Held held(1);
    held[0] = Cell{type_block, 0, memory::alloc_cells(2), 0};
    Cell path{type_path, 0, memory::alloc_cells(2), 0};
    *series::alloc_tail_cell(held[0].w2) = path;
    *series::alloc_tail_cell(path.w2) = word_t::make_global("read");
    *series::alloc_tail_cell(path.w2) = word_t::make_global("binary");
    *series::alloc_tail_cell(held[0].w2) = args[0];
    return eval::do_block(held[0]);
}

}  // namespace

Status vyrbin_encode(Cell* args, uint32_t) {
    std::vector<uint8_t> image = vyrbin::encode(args[0], args[1].w1 == 1);
    Cell* bin = binary_t::push_bytes(image.data(), uint32_t(image.size()));
    args[0] = *bin;
    return Status::ok;
}

Status vyrbin_decode(Cell* args, uint32_t) {
    uint32_t t = type_of(args[0]);
    if (t == type_file || t == type_url) {
        Status s = read_binary(args);
        if (s != Status::ok) return s;
        t = type_of(args[0]);
    }
    if (t != type_binary || binary_t::byte_length(args[0]) < min_payload)
        raise_error(err_cat::script, err_id::script::invalid_data, &args[0]);
    // The bytes are copied: the image must not move under the reader.
    const uint8_t* head = binary_t::head_ptr(args[0]);
    std::vector<uint8_t> image(head, head + binary_t::byte_length(args[0]));
    stack::Mark mark;
    Cell* target = stack::push_copy(Cell{type_block, 0, memory::alloc_cells(1), 0});
    vyrbin::codec_q = true;
    vyrbin::decode(image, *target, vyrbin::Mode::codec, &args[0]);
    Cell result = *target;
    if (memory::series_length(target->w2) == 1) result = *memory::cell_at(target->w2, 0);
    mark.restore();
    args[0] = result;
    args[0].header &= ~header::new_line;
    return Status::ok;
}

}  // namespace vyr::library
