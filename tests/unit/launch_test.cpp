// Script start: which command-line argument names the script, and where the
// `Vyr [...]` header of a script text begins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/launch.h"
#include "engine/source.h"

using vyr::source::find_header;
using vyr::console::script_argument;

namespace {
std::string script_of(std::vector<const char*> args) {
    const char* s = script_argument(int(args.size()), args.data());
    return s ? s : "(none)";
}
}  // namespace

TEST(LaunchTest, SwitchesBeforeTheScriptArePassedOver) {
    EXPECT_EQ(script_of({}), "(none)");
    EXPECT_EQ(script_of({"a.vyr", "b"}), "a.vyr");
    EXPECT_EQ(script_of({"--catch", "a.vyr", "x"}), "a.vyr");
    EXPECT_EQ(script_of({"--foo"}), "(none)");
    EXPECT_EQ(script_of({"--foo", "--"}), "(none)");
    // "--" ends the switches: what follows is the script, even "--odd.vyr".
    EXPECT_EQ(script_of({"--", "--odd.vyr"}), "--odd.vyr");
    EXPECT_EQ(script_of({"--catch", "--", "--", "x"}), "--");
}

TEST(LaunchTest, HeaderIsFoundWithCaseSensitiveMatching) {
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
