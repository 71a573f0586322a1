// Where the `Vyr [...]` header of a source text begins.
#include <gtest/gtest.h>

#include <string>

#include "engine/source.h"

using vyr::source::find_header;

TEST(SourceTest, HeaderIsFoundWithCaseSensitiveMatching) {
    struct Case {
        const char* text;
        size_t at;
    } cases[] = {
        {"Vyr [] 1", 0},
        {"#!/usr/bin/vyr\nVyr [Title: \"x\"]", 15},
        {"Vyr\n\t [", 0},
        {"Vyr/System [", 0},
        {"Vyr/System[", 0},
        {"; Vyr is here\nVyr []", 14},
        {"vyr [print 1]", std::string::npos},
        {"VYR []", std::string::npos},
        {"Vyr: []", std::string::npos},
        {"Vyr\r\n[]", std::string::npos},  // only space, tab and line feed may stand before "["
        {"Vyr", std::string::npos},
        {"", std::string::npos},
    };
    for (const Case& c : cases) EXPECT_EQ(find_header(c.text), c.at) << c.text;
}
