// Start-up's boot step: turns the embedded boot sources into the built-in
// values of the global context.
//
// Stands in for the decoding of a boot image: the type-name words get their
// datatype! values, `make` is bootstrapped so that the sources can make
// values, the library's routines are made, then each boot source is loaded
// and evaluated after its `Vyr [...]` header (engine/source.h) in the order
// of boot/boot_sources.h.
#pragma once

#include <cstdint>

#include "boot/boot_sources.h"
#include "runtime/cell.h"

namespace vyr::boot {

// Every datatype's name word holds its datatype! value, also the types whose
// modules are not registered yet (so that typesets and specs may name them).
void define_type_words();
// A provisional `make` action! (slot 1), through which the first source
// makes values before the actions source gives `make` its full spec.
void bootstrap_make();
// Loads a source's text into a new block whose words are bound to the
// global context, its index past the `Vyr [...]` header.
Cell load_source(const Source& source);
// Runs the boot step: all of the above, then every source evaluated in
// order. An error in a source propagates as the Unwind exception.
void run_boot_script();

}  // namespace vyr::boot
