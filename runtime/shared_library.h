// A host library opened on first use instead of at start-up.
//
// Every library the program links is loaded and relocated before main runs,
// on every start, also by the many runs that never need it. A library that
// only some scripts use (image codecs, HTTP, digests) is opened with dlopen
// the first time it is wanted, and its entry points are bound into a table of
// function pointers declared with the library's own prototypes:
//
//     SharedLibrary lib("libfoo.so.1");
//     VYR_BIND(lib, table, foo_open);   // table.foo_open = dlsym(..., "foo_open")
//     table.loaded = lib.complete();
//
// A missing library or entry leaves complete() false; the caller then answers
// as it would for data it cannot handle.
#pragma once

#include <dlfcn.h>

namespace vyr {

class SharedLibrary {
public:
    // Opens the library by its soname; the handle is never closed, since the
    // bound entries must outlive every use.
    explicit SharedLibrary(const char* soname)
        : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)), complete_(handle_ != nullptr) {}

    // Sets `fn` to the entry called `name`, or to null when there is none.
    template <class Fn>
    void bind(Fn& fn, const char* name) {
        fn = handle_ ? reinterpret_cast<Fn>(dlsym(handle_, name)) : nullptr;
        complete_ = complete_ && fn;
    }

    // True when the library opened and every bound entry was found.
    bool complete() const { return complete_; }

private:
    void* handle_;
    bool complete_;
};

}  // namespace vyr

// Binds the member of `table` named like the library's function to it.
#define VYR_BIND(library, table, name) (library).bind((table).name, #name)
