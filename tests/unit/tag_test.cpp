// tag!, email! and ref!: their literals, form and mold texts, the string!
// actions they inherit (and those they do not), email!'s user and host path
// words.
#include "datatypes/tag.h"

#include "tests/unit/scalar_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;

namespace {
using TagTest = ScalarTest;
}  // namespace

TEST_F(TagTest, LiteralsFormAndMold) {
    struct Case {
        const char* source;
        uint32_t type;
        const char* molded;
        const char* formed;
    } cases[] = {
        {"<b>", type_tag, "<b>", "<b>"},
        {"<a href=\"x\">", type_tag, "<a href=\"x\">", "<a href=\"x\">"},
        {"user@host.org", type_email, "user@host.org", "user@host.org"},
        {"@name", type_ref, "@name", "name"},
    };
    for (const auto& c : cases) {
        Cell v = value(c.source);
        EXPECT_EQ(type_of(v), c.type) << c.source;
        EXPECT_EQ(mold(v), c.molded) << c.source;
        EXPECT_EQ(form(v), c.formed) << c.source;
    }
    EXPECT_EQ(budget_left("<abc>", true), 1000 - 5);
    EXPECT_EQ(budget_left("@abc", true), 1000 - 4);
    EXPECT_EQ(budget_left("a@b", true), 1000 - 3);
    EXPECT_EQ(mold_part(value("<abcdef>"), 4), "<abc");
    // A tag molded from its index.
    Cell tag = value("<abc>");
    tag.w1 = 1;
    EXPECT_EQ(mold(tag), "<bc>");
}

TEST_F(TagTest, StringActionsAreInherited) {
    EXPECT_EQ(mold(call(slot_append, {value("<a>"), value("\"b\"")})), "<ab>");
    EXPECT_EQ(mold(call(slot_length_q, {value("a@b.c")})), "5");
    EXPECT_EQ(mold(call(slot_copy, {value("@ref")})), "@ref");
    EXPECT_TRUE(compare("<a>", "<A>", op_equal));
    EXPECT_TRUE(compare("a@b", "A@B", op_equal));
    EXPECT_EQ(mold(call(slot_to, {datatype(type_tag), value("\"b\"")})), "<b>");
    EXPECT_EQ(mold(call(slot_to, {datatype(type_email), value("\"x@y\"")})), "x@y");
    // Not every string! action: ref! has no append, tag! no sort or random.
    EXPECT_ERROR(call(slot_append, {value("@a"), value("\"b\"")}), report::expect_arg);
    EXPECT_ERROR(call(slot_sort, {value("<ba>")}), report::expect_arg);
    EXPECT_ERROR(call(slot_random, {value("<ba>")}), report::expect_arg);
}

TEST_F(TagTest, EmailUserAndHost) {
    Cell e = value("someone@example.com");
    EXPECT_EQ(mold(path_get(e, value("user"))), "\"someone\"");
    EXPECT_EQ(mold(path_get(e, value("HOST"))), "\"example.com\"");
    EXPECT_EQ(type_of(path_get(e, value("host"))), uint32_t(type_string));
    EXPECT_EQ(mold(path_get(e, integer(3))), "#\"m\"");

    Cell plain = value("\"nobody\"");
    set_type(plain, type_email);
    EXPECT_EQ(mold(path_get(plain, value("user"))), "\"nobody\"");
    EXPECT_EQ(mold(path_get(plain, value("host"))), "\"\"");

    EXPECT_EQ(mold(path_set(e, value("user"), value("\"me\""))), "me@example.com");
    EXPECT_EQ(mold(path_set(e, value("host"), value("\"x.org\""))), "me@x.org");
    EXPECT_EQ(mold(path_set(plain, value("host"), value("\"x.org\""))), "nobody@x.org");
    EXPECT_EQ(mold(path_set(value("a@b"), integer(1), value("#\"z\""))), "z@b");

    EXPECT_ERROR(path_get(e, value("domain")), report::invalid_path);
    EXPECT_ERROR(path_get(e, value("\"user\"")), report::invalid_path);
    // ref! has no path access at all.
    Cell r = value("@name"), element = value("x");
    EXPECT_RAISES(actions::path_access(&r, &element, nullptr, nullptr, nullptr, nullptr, -1, false, true, false, false),
                  err_cat::script, err_id::script::bad_path_type2);
}

TEST_F(TagTest, PushCopiesTheCell) {
    Cell t = value("<b>");
    Cell* pushed = tag_t::push(t);
    EXPECT_EQ(pushed->w2, t.w2);
    EXPECT_EQ(type_of(*email_t::push(value("a@b"))), uint32_t(type_email));
    EXPECT_EQ(type_of(*ref_t::push(value("@a"))), uint32_t(type_ref));
}
