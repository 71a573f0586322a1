#include "runtime/error_catalog.h"

namespace vyr::error_catalog {

namespace {

template <typename... P>
constexpr Template make_template(Shape shape, P... parts) {
    static_assert(sizeof...(P) >= 1 && sizeof...(P) <= max_parts, "a template holds 1 to 6 parts");
    return Template{shape, uint8_t(sizeof...(P)), {parts...}};
}

// One array of ids per category, straight from the lists.
#define VYR_ID_ROW(name, spelling, shape, ...) Id{spelling, make_template(Shape::shape, __VA_ARGS__)},
#define VYR_ID_ARRAY(name, spelling, title, ids) constexpr Id name##_ids[] = {ids(VYR_ID_ROW) Id{}};
VYR_ERROR_CATEGORIES(VYR_ID_ARRAY)
#undef VYR_ID_ARRAY
#undef VYR_ID_ROW

// Each array ends with an empty sentinel (so that reserved1 and reserved2
// can be arrays too); the spans leave it out.
#define VYR_CATEGORY_ROW(name, spelling, title, ids) \
    Category{spelling, err_cat::name * 100, title, std::span<const Id>(name##_ids, std::size(name##_ids) - 1)},
const Category category_table[] = {VYR_ERROR_CATEGORIES(VYR_CATEGORY_ROW)};
#undef VYR_CATEGORY_ROW

static_assert(std::size(category_table) == err_cat::count);

}  // namespace

std::span<const Category> categories() { return category_table; }

const Category* category(int position) {
    if (position < 0 || position >= err_cat::count) return nullptr;
    return &category_table[position];
}

const Id* id(int category_pos, int id_pos) {
    const Category* c = category(category_pos);
    if (!c || id_pos < err_id::first || size_t(id_pos - err_id::first) >= c->ids.size()) return nullptr;
    return &c->ids[size_t(id_pos - err_id::first)];
}

int category_position(std::string_view word) {
    for (int i = 0; i < err_cat::count; ++i)
        if (word == category_table[i].word) return i;
    return -1;
}

int id_position(int category_pos, std::string_view word) {
    const Category* c = category(category_pos);
    if (!c) return -1;
    for (size_t i = 0; i < c->ids.size(); ++i)
        if (word == c->ids[i].word) return int(i) + err_id::first;
    return -1;
}

std::string template_source(const Template& t) {
    std::string out;
    for (int i = 0; i < t.count; ++i) {
        const Part& p = t.parts[i];
        if (i > 0) out += ' ';
        switch (p.kind) {
            case PartKind::text: out += '"', out += p.text, out += '"'; break;
            case PartKind::get_word: out += ":arg", out += char('0' + p.arg); break;
            case PartKind::word: out += "arg", out += char('0' + p.arg); break;
        }
    }
    return t.shape == Shape::block ? "[" + out + "]" : out;
}

}  // namespace vyr::error_catalog
