// A host library opened on first use instead of at start-up.
//
// Every library the program links is loaded and relocated before main runs,
// on every start, also by the many runs that never need it. A library that
// only some scripts use (image codecs, HTTP, digests) is opened with dlopen
// the first time it is wanted, and its entry points are bound into a table of
// function pointers declared with the library's own prototypes:
//
//     SharedLibrary lib("libfoo.so.1");
//     lib.bind(table.open, "foo_open");   // table.open = dlsym(..., "foo_open")
//     table.loaded = lib.complete();
//
// A missing library or entry leaves complete() false; the caller then answers
// as it would for data it cannot handle.
//
// A table whose members are named like the library's functions lists them
// once, and library_table opens it on its first use:
//
//     #define FOO_ENTRIES(X) X(foo_open) X(foo_close)
//     struct Foo { FOO_ENTRIES(VYR_ENTRY) };
//     const Foo* foo = library_table<Foo>("libfoo.so.1",
//                                         [](SharedLibrary& lib, Foo& t) { FOO_ENTRIES(VYR_BIND_ENTRY) });
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

// The table `Table` bound by `bind` (a function of the library and the
// table) on the first call, or null when the library or an entry is
// missing. Each call site has its own table, opened once.
template <class Table, class Bind>
const Table* library_table(const char* soname, Bind bind) {
    struct Loaded {
        Table table{};
        bool complete = false;
    };
    static const Loaded loaded = [&] {
        Loaded l;
        SharedLibrary lib(soname);
        bind(lib, l.table);
        l.complete = lib.complete();
        return l;
    }();
    return loaded.complete ? &loaded.table : nullptr;
}

}  // namespace vyr

// A member of a library's table: a pointer to the function of that name,
// with the library's own prototype.
#define VYR_ENTRY(name) decltype(&::name) name = nullptr;
// Binds the member named like the library's function (inside the bind
// function of library_table, whose arguments are `lib` and `t`).
#define VYR_BIND_ENTRY(name) lib.bind(t.name, #name);
