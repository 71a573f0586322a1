// Fuzz target for the VYRBIN decoder in codec mode: the input is decoded as a
// compact image and as a standard one (the header put in front of it, the
// first byte choosing the symbol-table and compressed flags), and as it is.
// An error is a normal outcome; a crash or a sanitizer report is a finding.
// Whatever decodes is molded and must encode and decode again in both
// encodings.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "datatypes/word.h"
#include "engine/eval.h"
#include "io/vyrbin.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"

#include "tests/fuzz/interpreter_worker.h"

using namespace vyr;

namespace {

// Decodes the image into a new block; answers whether it decoded.
bool decode(const std::vector<uint8_t>& image, Cell& out) {
    Cell* target = stack::push_copy(Cell{type_block, 0, memory::alloc_cells(1), 0});
    try {
        vyrbin::decode(image, *target, vyrbin::Mode::codec);
    } catch (const Unwind&) {
        return false;
    }
    out = *target;
    return true;
}

// `mold/all` of the value through the evaluator.
void mold(const Cell& value) {
    collector::Held held(1);
    held[0] = Cell{type_block, 0, memory::alloc_cells(2), 0};
    Cell path{type_path, 0, memory::alloc_cells(2), 0};
    *series::alloc_tail_cell(held[0].w2) = path;
    *series::alloc_tail_cell(path.w2) = word_t::make_global("mold");
    *series::alloc_tail_cell(path.w2) = word_t::make_global("all");
    *series::alloc_tail_cell(held[0].w2) = value;
    try {
        eval::do_block(held[0]);
    } catch (const Unwind&) {
    }
}

void run_one(const uint8_t* data, size_t size) {
    if (size == 0) return;
    stack::Mark mark;
    uint8_t flags = data[0] & (vyrbin::flag_compact | vyrbin::flag_compressed | vyrbin::flag_symbols);
    std::vector<uint8_t> framed = {'V', 'Y', 'R', 'B', 'I', 'N', 2, flags};
    framed.insert(framed.end(), data + 1, data + size);
    for (const std::vector<uint8_t>& image : {framed, std::vector<uint8_t>(data, data + size)}) {
        Cell decoded;
        if (!decode(image, decoded)) continue;
        mold(decoded);
        for (bool compact : {true, false}) {
            std::vector<uint8_t> again;
            try {
                again = vyrbin::encode(decoded, compact);
            } catch (const Unwind&) {
                std::abort();  // what decodes can be written
            }
            Cell back;
            if (!decode(again, back)) std::abort();
        }
    }
    mark.restore();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::run_on_worker(run_one, data, size);
}
