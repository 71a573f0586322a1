#include "engine/eval.h"

#include "datatypes/unset.h"
#include "runtime/errors.h"

namespace vyr::eval {

// The evaluator proper is being written; until it lands every entry raises
// internal `not-done`.
namespace {
Cell position_cell = unset_t::value;
[[noreturn]] void not_done() { raise_error(err_cat::internal, err_id::internal::not_done); }
}  // namespace

Cursor::Cursor(const Cell& block) : code(block), pos(block.w1), tail(memory::series_length(block.w2)), root_(&code) {}
Cursor::Cursor(const Cell& block, uint32_t from, uint32_t end) : code(block), pos(from), tail(end), root_(&code) {}

Status eval_block(const Cell&, const Cell&, bool) { not_done(); }
Status do_block(const Cell&) { not_done(); }
Status eval_expression(Cursor&, bool, bool, bool) { not_done(); }
Status eval_next(Cursor&, bool) { not_done(); }
Status eval_next_index(const Cell&, uint32_t&) { not_done(); }
Status eval_path_value(const Cell&, bool) { not_done(); }
Status eval_call(const Cell&, Cursor&, const Cell&, const Cell*, uint32_t, NodeId, uint32_t, bool) { not_done(); }
Status call_value(const Cell&, Cell*, uint32_t, NodeId, const Cell&, Cell&) { not_done(); }
Cell& current_position() { return position_cell; }
namespace trace {
bool on() { return false; }
uint32_t events_to_bits(const Cell&) { return event::all_events; }
void install(const Cell&) { not_done(); }
void uninstall() {}
Status fire(uint32_t, const Cell*, uint32_t, const Cell*, const Cell*) { return Status::ok; }
}  // namespace trace
void interp_init() {}

}  // namespace vyr::eval
