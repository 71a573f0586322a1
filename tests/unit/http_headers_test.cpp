// The response header text of an HTTP answer made into a map!: one key per
// name (in any letter case), a block for a repeated name, and the lines a
// server may send loosely (no blank after the colon, no final CR LF, a line
// without a colon).
#include <gtest/gtest.h>

#include <string>

#include "io/http.h"
#include "io/http_request.h"
#include "runtime/stack.h"
#include "tests/unit/literal_fixture.h"
#include "tests/unit/value_helpers.h"

using namespace vyr;
using namespace vyr::test;

namespace {

class HttpHeaders : public LiteralTest {
protected:
    static std::string map_of(const std::string& text) {
        stack::Mark mark;
        Cell map = *http_request::push_headers_map(text);
        std::string molded = mold_text(map, false, false, true);
        mark.restore();
        return molded;
    }
};

TEST_F(HttpHeaders, Table) {
    struct Case {
        const char* text;
        const char* map;
    } cases[] = {
        {"", "#[]"},
        {"Content-Type: text/plain\r\n", R"(#[Content-Type: "text/plain"])"},
        {"A: 1\r\nB: two words \r\n", R"(#[A: "1" B: "two words"])"},
        // A last line without CR LF ends with the text.
        {"A: 1\r\nLast: end", R"(#[A: "1" Last: "end"])"},
        {"Tight:value\r\nEmpty:\r\n", R"(#[Tight: "value" Empty: ""])"},
        {"Set-Cookie: a=1\r\nX: y\r\nset-cookie: b=2\r\nSET-COOKIE: c=3\r\n",
         R"(#[Set-Cookie: ["a=1" "b=2" "c=3"] X: "y"])"},
        {"no colon here\r\n: no name\r\nOk: 1\r\n", R"(#[Ok: "1"])"},
        {"Url: http://h:80/p\n", R"(#[Url: "http://h:80/p"])"},
    };
    for (const Case& c : cases) EXPECT_EQ(map_of(c.text), c.map) << c.text;
}

TEST_F(HttpHeaders, UnsafeHeaderTextIsRefused) {
    EXPECT_TRUE(http::header_name_ok("X-Name"));
    EXPECT_TRUE(http::header_value_ok(""));
    for (const char* bad : {"", "A:B", "A\r\nB", "A\n"}) EXPECT_FALSE(http::header_name_ok(bad)) << bad;
    EXPECT_FALSE(http::header_value_ok("v\r\nInjected: 1"));
    EXPECT_FALSE(http::header_value_ok(std::string("a\0b", 3)));
}

}  // namespace
