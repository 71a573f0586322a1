// Display widths of code points in the terminal.
#include <gtest/gtest.h>

#include "console/char_width.h"

using vyr::console::char_width;
using vyr::console::char_width_ambiguous;

TEST(CharWidthTest, TableOfCases) {
    struct Case {
        int32_t cp;
        int width;
    } cases[] = {
        {0, 0},       {9, 1},       {0x1B, 1},    {-5, 1},      {0x7F, 1},     {0x9F, 1},    {'A', 1},
        {0xA0, 1},    {0x0300, 0},  {0x0301, 0},  {0x036F, 0},  {0x0370, 1},   {0x0600, 0},  {0x1160, 0},
        {0x11FF, 0},  {0x1100, 2},  {0x115F, 2},  {0x231A, 2},  {0x3041, 2},   {0x4E00, 2},  {0xA48C, 2},
        {0xAC00, 2},  {0xD7A3, 2},  {0xD7B0, 0},  {0xFF01, 2},  {0xFF60, 2},   {0xFF61, 1},  {0x1F300, 2},
        {0x1F600, 2}, {0x1F947, 2}, {0x20000, 2}, {0x2B739, 2}, {0x3FFFD, 2},  {0xE0100, 0}, {0xE01EF, 0},
        {0x10FFFF, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(char_width(c.cp), c.width) << std::hex << c.cp;
}

TEST(CharWidthTest, AmbiguousCharactersAreWideOnlyWhenAsked) {
    EXPECT_EQ(char_width(0xA1), 1);
    EXPECT_EQ(char_width_ambiguous(0xA1), 2);
    EXPECT_EQ(char_width_ambiguous(0x2614), 2);
    EXPECT_EQ(char_width_ambiguous(0x100000), 2);
    EXPECT_EQ(char_width_ambiguous('A'), 1);
    EXPECT_EQ(char_width_ambiguous(0x4E00), 2);
}
