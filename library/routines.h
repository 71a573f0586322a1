// The library's routines: the type predicates and the small routines that
// give Vyr code access to runtime services (quiet setters, shifts, stack and
// frame queries, tuple builders).
//
// Each routine is a C++ entry in the routine table (runtime/routines.h) and a
// routine! value bound to its global word, with an argument block (argument words,
// types, doc string) that help shows. The datatype tests compare the type
// id of their argument; the typeset tests read, at every call, the current
// value of the global word that names their typeset, so redefining
// `number!` changes what `number?` answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"
#include "runtime/routines.h"

namespace vyr::library {

// A routine's C++ side: the word it is bound to (or the path of a field of
// the system object), its entry (null while the service it gives is not
// built: a call raises internal `not-done`) and its return type id or -1.
// Its argument block comes from the routine source (boot/routines.vyr), which
// pairs names with specs: `name [spec]`.
struct RoutineEntry {
    const char* word;
    routines::Entry entry;
    int32_t return_type;
};

// Makes the routine! value of each entry, with the argument block of the same name in
// `specs` (the loaded routine source), and binds it.
void bind_routines(const Cell& specs, const RoutineEntry* table, size_t count);

// Start-up (intern step, root keeping on): the words of the typesets that the
// typeset tests read.
void intern_names();
// Start-up (boot step): adds the entries to the routine table, makes the
// routine! values with their specs from `specs` and binds them to their
// words. The routines that belong to fields of the system object are held
// until complete_system.
void make_routines(const Cell& specs);
// The names of the library's entries, for the check that every spec of the
// routine source has an entry and every entry a spec.
std::vector<std::string> routine_names();
// Start-up, once the library source has built `system`: puts the values
// that only the runtime can give into their fields (the held routines, the
// build date, the error catalog and the error prototype).
void complete_system();
// Start-up, after each boot source: puts each held routine whose field
// exists into place and lets it go; the others wait for a later source (the
// codec objects are made after the system object).
void place_held_routines();

}  // namespace vyr::library
