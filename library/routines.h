// The library's routines: the type predicates and the small routines that
// give Vyr code access to runtime services (quiet setters, shifts, stack and
// frame queries, tuple builders).
//
// Each routine is a C++ entry in the routine table (engine/routines.h) and a
// routine! value bound to its global word, with a spec block (argument words,
// types, doc string) that help shows. The datatype tests compare the type
// id of their argument; the typeset tests read, at every call, the current
// value of the global word that names their typeset, so redefining
// `number!` changes what `number?` answers.
#pragma once

namespace vyr::library {

// Start-up (intern step, root keeping on): the words of the typesets that the
// typeset tests read.
void intern_names();
// Start-up (boot step): adds the entries to the routine table, makes the
// routine! values and binds them to their words. The routines that belong
// to fields of the system object are held until complete_system.
void make_routines();
// Start-up, once the library source has built `system`: puts the values
// that only the runtime can give into their fields (the held routines, the
// build date, the error catalog and the error prototype).
void complete_system();

}  // namespace vyr::library
