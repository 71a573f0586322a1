// The natives table and the natives' calling convention.
//
// A native is a built-in function whose body is a routine of the runtime.
// Every native! value carries its native index (1 to 107) as the table slot
// index - 1 in payload word 1; the table maps it to the routine.
//
// Calling convention: the arguments are the cells from the argument base up,
// one per argument in spec order, the plain arguments first, then the
// arguments of each refinement in spec order (an unused refinement's cells
// are present and hold none!). The routine receives the check flag and one
// refinement position per refinement: -1 when not used, else the position of
// the refinement's first argument cell from the base (where its arguments
// would begin, for a refinement without any). It writes its result into the
// result cell (the argument base), leaves the top at base + 1, and answers
// the status of any evaluation it ran (engine/unwind.h).
//
// The check flag: the evaluator checks every argument against the native's
// argument block while fetching it and passes false; callers that lay out the
// arguments themselves pass true, and the native then checks each argument
// against its typeset with checks::check_arg_type / checks::check_native_arg
// (runtime/checks.h), which name the calling word and the argument's word.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::natives {

inline constexpr uint32_t table_slots = 120;
inline constexpr uint32_t native_count = 107;
inline constexpr uint32_t print_block_cells = 32;

using NativeFn = Status (*)(bool check, const int32_t* refs);

// X(index, C++ name, word) for every native, by native index. The index, not
// the order of the words, decides the slot.
#define VYR_NATIVES(X)                                                                                           \
    X(1, if_, "if") X(2, unless, "unless") X(3, either, "either") X(4, any, "any") X(5, all, "all")              \
    X(6, while_, "while") X(7, until, "until") X(8, loop, "loop") X(9, repeat, "repeat")                        \
    X(10, forever, "forever") X(11, foreach, "foreach") X(12, forall, "forall")                                 \
    X(13, remove_each, "remove-each") X(14, func, "func") X(15, function, "function") X(16, does, "does")       \
    X(17, has, "has") X(18, switch_, "switch") X(19, case_, "case") X(20, do_, "do") X(21, get, "get")          \
    X(22, set, "set") X(23, print, "print") X(24, prin, "prin") X(25, equal_q, "equal?")                        \
    X(26, not_equal_q, "not-equal?") X(27, strict_equal_q, "strict-equal?") X(28, lesser_q, "lesser?")          \
    X(29, greater_q, "greater?") X(30, lesser_or_equal_q, "lesser-or-equal?")                                   \
    X(31, greater_or_equal_q, "greater-or-equal?") X(32, same_q, "same?") X(33, not_, "not")                   \
    X(34, type_q, "type?") X(35, reduce, "reduce") X(36, compose, "compose") X(37, stats, "stats")             \
    X(38, bind, "bind") X(39, in, "in") X(40, parse, "parse") X(41, union_, "union")                           \
    X(42, intersect, "intersect") X(43, unique, "unique") X(44, difference, "difference")                       \
    X(45, exclude, "exclude") X(46, complement_q, "complement?") X(47, dehex, "dehex") X(48, enhex, "enhex")    \
    X(49, negative_q, "negative?") X(50, positive_q, "positive?") X(51, max, "max") X(52, min, "min")           \
    X(53, shift, "shift") X(54, to_hex, "to-hex") X(55, sine, "sine") X(56, cosine, "cosine")                  \
    X(57, tangent, "tangent") X(58, arcsine, "arcsine") X(59, arccosine, "arccosine")                          \
    X(60, arctangent, "arctangent") X(61, arctangent2, "arctangent2") X(62, nan_q, "NaN?")                     \
    X(63, log_2, "log-2") X(64, log_10, "log-10") X(65, log_e, "log-e") X(66, exp, "exp")                      \
    X(67, square_root, "square-root") X(68, construct, "construct") X(69, value_q, "value?") X(70, try_, "try") \
    X(71, uppercase, "uppercase") X(72, lowercase, "lowercase") X(73, as_pair, "as-pair")                      \
    X(74, as_point2d, "as-point2D") X(75, as_point3d, "as-point3D") X(76, as_money, "as-money")                \
    X(77, break_, "break") X(78, continue_, "continue") X(79, exit, "exit") X(80, return_, "return")          \
    X(81, throw_, "throw") X(82, catch_, "catch") X(83, extend, "extend") X(84, debase, "debase")              \
    X(85, to_local_file, "to-local-file") X(86, wait, "wait") X(87, checksum, "checksum")                      \
    X(88, unset, "unset") X(89, new_line, "new-line") X(90, new_line_q, "new-line?") X(91, enbase, "enbase")   \
    X(92, context_q, "context?") X(93, set_env, "set-env") X(94, get_env, "get-env")                           \
    X(95, list_env, "list-env") X(96, now, "now") X(97, sign_q, "sign?") X(98, as, "as") X(99, call, "call")   \
    X(100, zero_q, "zero?") X(101, size_q, "size?") X(102, browse, "browse") X(103, compress, "compress")      \
    X(104, decompress, "decompress") X(105, recycle, "recycle") X(106, transcode, "transcode")                 \
    X(107, apply, "apply")

// The native index of each native, by its C++ name (no::lesser_q == 28).
namespace no {
#define VYR_NATIVE_INDEX(index, name, word) inline constexpr uint32_t name = index;
VYR_NATIVES(VYR_NATIVE_INDEX)
#undef VYR_NATIVE_INDEX
}  // namespace no

// The natives' routines; each is defined by its family's module. Every one
// must exist: a missing routine is a link error, not an empty slot.
#define VYR_DECLARE_NATIVE(index, name, word) Status name(bool check, const int32_t* refs);
VYR_NATIVES(VYR_DECLARE_NATIVE)
#undef VYR_DECLARE_NATIVE

// Allocates the table, makes the print work block in the root block, and
// appends the 107 routines in index order. Once at start-up, after the fixed
// words exist and before the boot data is decoded.
void natives_init();
// Stores each routine into the next slot (from slot 0 at start-up).
void natives_append(uint32_t count, const NativeFn* entries);

// The routine of native index n (1-based), or of a native! value; null when
// the slot is empty (beyond the natives appended).
NativeFn entry(uint32_t index);
inline NativeFn entry_of(const Cell& native) { return entry(native.w1 + 1); }
// The table slot a native index takes (what a native! value stores).
inline uint32_t slot_of(uint32_t index) { return index - 1; }

// The block (32 cells, in the root block) that `print` and `prin` reduce
// into instead of allocating a block per call.
Cell* print_block();

// The argument cell at a refinement position from the base, or null when the
// refinement was not used.
Cell* refinement_arg(int32_t position);

}  // namespace vyr::natives
