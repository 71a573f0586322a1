// The boot sources: the Vyr texts that start-up evaluates to define the
// built-in values (typesets, natives, actions, operators ...), and the
// routine specs (routines.vyr), which start-up reads as data.
//
// The build embeds each file named in CMakeLists.txt (VYR_BOOT_SOURCES: the
// built-in values of boot/, then the standard library of library/)
// as a string literal, in the order listed there; that list is the one place
// that fixes the order of definitions. The texts are UTF-8 and are not
// NUL-terminated as far as `length` counts.
#pragma once

#include <cstdint>

namespace vyr::boot {

struct Source {
    const char* name;  // the file name, for reports
    const char* text;
    uint32_t length;   // bytes
};

// Generated from the boot sources (see boot/embed_sources.cmake).
extern const Source sources[];
extern const uint32_t source_count;

}  // namespace vyr::boot
