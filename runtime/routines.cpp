// The routine table (see routines.h).
#include "runtime/routines.h"

#include <vector>

#include "runtime/errors.h"

namespace vyr::routines {

namespace {
struct Routine {
    const char* name;
    Entry fn;
};
// Entries are only appended: an index never changes once handed out.
std::vector<Routine>& table() {
    static std::vector<Routine> t;
    return t;
}
}  // namespace

int32_t add(const char* name, Entry fn) {
    std::vector<Routine>& t = table();
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i].fn == fn) return int32_t(i + 1);
    t.push_back({name, fn});
    return int32_t(t.size());
}

Entry entry(int32_t index) {
    const std::vector<Routine>& t = table();
    return index >= 1 && size_t(index) <= t.size() ? t[size_t(index - 1)].fn : nullptr;
}

const char* name(int32_t index) {
    const std::vector<Routine>& t = table();
    return index >= 1 && size_t(index) <= t.size() ? t[size_t(index - 1)].name : "";
}

uint32_t count() { return uint32_t(table().size()); }

Status call(int32_t index, Cell* args, uint32_t n) {
    Entry fn = entry(index);
    if (!fn) raise_error(err_cat::internal, err_id::internal::not_done);
    return fn(args, n);
}

}  // namespace vyr::routines
