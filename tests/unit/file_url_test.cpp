// file! and url!: molds with their quoting and escapes, percent-encoding,
// building a url from parts, path joining and local paths.
#include <gtest/gtest.h>

#include "datatypes/file.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_errors.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "runtime/platform.h"
#include "runtime/series.h"
#include "tests/unit/fixture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
using namespace vyr::test;
namespace te = vyr::text_errors;

namespace {

class FileUrlTest : public RuntimeTest {
protected:
    std::string mold(const Cell& v, int32_t part = -1) {
        Cell value = v, out, part_cell = te::integer_cell(part);
        string_t::make_at(out, 0);
        auto fn = registry::action<registry::action_sig::mold>(type_of(v), registry::slot_mold);
        fn(&value, &out, false, false, false, part >= 0 ? &part_cell : nullptr, part >= 0 ? part : INT32_MAX, 0);
        return utf8_of(out);
    }
    Cell block(std::initializer_list<Cell> cells) {
        NodeId n = memory::alloc_cells(uint32_t(cells.size()) + 1);
        for (const Cell& c : cells) *series::alloc_tail_cell(n) = c;
        return Cell{type_block, 0, n, 0};
    }
};
using FileUrlErrorTest = FileUrlTest;

}  // namespace

TEST_F(FileUrlTest, FileMoldQuotesOnlyWhenNeeded) {
    struct Case {
        const char* name;
        const char* molded;
    } cases[] = {
        {"", "%\"\""},
        {"dir/file.txt", "%dir/file.txt"},
        {"my file", "%\"my file\""},
        {"a;b", "%\"a;b\""},
        {"x[1]", "%\"x[1]\""},
        {"caf\u00E9.txt", "%caf\u00E9.txt"},  // an accented letter needs no quotes
        {"50%", "%\"50%\""},
    };
    for (const auto& c : cases) EXPECT_EQ(mold(text(c.name, type_file)), c.molded) << c.name;
    Cell f = text("abc/def", type_file);
    f.w1 = 4;
    EXPECT_EQ(mold(f), "%def");
    EXPECT_EQ(mold(f, 2), "%de");
}

TEST_F(FileUrlTest, UrlMoldPercentEncodesUtf8Bytes) {
    EXPECT_EQ(mold(text("http://example.com/a b", type_url)), "http://example.com/a%20b");
    EXPECT_EQ(mold(text("http://x/\u00E9", type_url)), "http://x/%C3%A9");
    EXPECT_EQ(mold(text("http://x/100%", type_url)), "http://x/100%25");
    EXPECT_EQ(mold(text("http://x/\u00E9", type_url), 11), "http://x/%C");  // the budget cuts inside an escape
}

TEST_F(FileUrlTest, PercentDecode) {
    struct Case {
        const char* in;
        std::u32string out;
    } cases[] = {
        {"%41", U"A"},         {"%C3%A9", U"\u00E9"},  {"%C3", U"%C3"},       {"%zz", U"%zz"},
        {"a%2", U"a%2"},       {"%E2%82%AC!", U"\u20AC!"}, {"%C3x", U"%C3x"}, {"\u00E9%20", U"\u00E9 "},
    };
    for (const auto& c : cases) {
        Cell out;
        string_t::make_at(out, 0);
        url_t::percent_decode(text(c.in), out);
        EXPECT_EQ(code_points(out), c.out) << c.in;
    }
}

TEST_F(FileUrlTest, PercentEncodeModes) {
    Cell out;
    string_t::make_at(out, 0);
    url_t::percent_encode(text("a/b:c d~\u00E9"), out, url_t::mode_unreserved);
    EXPECT_EQ(utf8_of(out), "a%2Fb%3Ac%20d~%C3%A9");
    Cell out2;
    string_t::make_at(out2, 0);
    url_t::percent_encode(text("a/b:c d"), out2, url_t::mode_url);
    EXPECT_EQ(utf8_of(out2), "a/b:c%20d");
}

TEST_F(FileUrlTest, UrlFromABlockOfParts) {
    Cell result;
    Cell parts = block({text("http"), text("example.com"), te::integer_cell(8080), text("index")});
    auto to = registry::action<registry::action_sig::make>(type_url, registry::slot_to);
    to(&result, &parts, type_url);
    EXPECT_EQ(utf8_of(result), "http://example.com:8080/index");
    Cell words = block({word_t::make_global("http"), text("host"), te::integer_cell(81)});
    to(&result, &words, type_url);
    EXPECT_EQ(utf8_of(result), "http://host:81");
    Cell paths = block({text("ftp"), text("host"), text("a"), text("b")});
    to(&result, &paths, type_url);
    EXPECT_EQ(type_of(result), uint32_t(type_url));
    EXPECT_EQ(utf8_of(result), "ftp://host/a/b");
    Cell scheme_only = block({text("mailto")});
    to(&result, &scheme_only, type_url);
    EXPECT_EQ(utf8_of(result), "mailto://");
}

TEST_F(FileUrlErrorTest, UrlErrors) {
    Cell result, empty = block({});
    auto to = registry::action<registry::action_sig::make>(type_url, registry::slot_to);
    EXPECT_RAISES(to(&result, &empty, type_url), err_cat::script, err_id::script::bad_to_arg);
    Cell url = text("http://x/", type_url), el = text("y"), v = text("z"), path{type_path, 0, 0, 0};
    EXPECT_RAISES(url_t::path_access(&url, &el, &v, &path, nullptr, nullptr, -1, false, false, true, false),
                  err_cat::script, err_id::script::bad_path_set);
    auto read = registry::action<registry::action_sig::read>(type_url, registry::slot_read);
    Cell seek = te::integer_cell(1);
    EXPECT_RAISES(read(&url, nullptr, &seek, false, false, false, nullptr), err_cat::internal, err_id::internal::not_done);
}

TEST_F(FileUrlTest, PathJoinsWithOneSlash) {
    struct Case {
        const char* url;
        const char* element;
        const char* joined;
    } cases[] = {
        {"http://x/", "/b", "http://x/b"},
        {"http://x/", "b", "http://x/b"},
        {"http://x", "/b", "http://x/b"},
        {"http://x", "b", "http://x/b"},
    };
    for (const auto& c : cases) {
        Cell url = text(c.url, type_url), el = text(c.element), original = url;
        url_t::path_access(&url, &el, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false);
        EXPECT_EQ(type_of(url), uint32_t(type_url));
        EXPECT_EQ(utf8_of(url), c.joined);
        EXPECT_EQ(utf8_of(original), c.url);  // the url itself is unchanged
    }
    // file! inherits the joining and keeps its type.
    Cell dir = text("dir/", type_file), name = text("f.txt");
    auto path = registry::action<registry::action_sig::path_access>(type_file, registry::slot_path_access);
    path(&dir, &name, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false);
    EXPECT_EQ(type_of(dir), uint32_t(type_file));
    EXPECT_EQ(utf8_of(dir), "dir/f.txt");
}

TEST_F(FileUrlTest, LocalPathsArePosixPaths) {
    EXPECT_EQ(file_t::to_local_path(text("/c/dir/f", type_file)), "/c/dir/f");
    EXPECT_EQ(file_t::to_local_path(text("caf\u00E9", type_file)), "caf\u00E9");
    Cell out;
    string_t::make_at(out, 0);
    file_t::to_local_text(text("a/b", type_file), out, true);
    EXPECT_EQ(utf8_of(out), platform::get_current_dir() + (platform::get_current_dir() == "/" ? "" : "/") + "a/b");
    Cell abs;
    string_t::make_at(abs, 0);
    file_t::to_local_text(text("/srv/x", type_file), abs, true);
    EXPECT_EQ(utf8_of(abs), "/srv/x");
    Cell dir = file_t::current_dir();
    EXPECT_EQ(string_t::char_at(dir, string_t::buffer_length(dir) - 1), uint32_t('/'));
}

TEST_F(FileUrlTest, TextActionsAreInherited) {
    using namespace registry;
    EXPECT_EQ(get_action(type_file, slot_append), get_action(type_string, slot_append));
    EXPECT_EQ(get_action(type_file, slot_path_access), get_action(type_url, slot_path_access));
    EXPECT_EQ(get_action(type_file, slot_sort), nullptr);
    EXPECT_EQ(get_action(type_url, slot_trim), nullptr);
    Cell a = text("abc", type_file), b = text("ABC");
    auto compare = action<action_sig::compare>(type_file, slot_compare);
    EXPECT_EQ(compare(&a, &b, op_equal), 0);
}
