// Number texts and reply lines of the text protocols.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "modules/text_wire.h"

using namespace koruhv;

TEST(FormatFixed, WidthAndDecimalsAsTheModulesExpect)
{
    struct Case {
        double v;
        int width, decimals;
        const char *want;
    } cases[] = {
        {150.0, 5, 1, "150.0"}, {15.0, 5, 1, "015.0"}, {-1.5, 5, 1, "-01.5"},  {3000.0, 6, 2, "3000.00"},
        {12.7, 1, 0, "13"},     {0.0, 3, 0, "000"},    {8100.0, 4, 0, "8100"}, {12.25, 4, 1, "12.2"},
    };
    for (const Case &c : cases) {
        char out[32];
        ASSERT_TRUE(FormatFixed(c.v, c.width, c.decimals, out, sizeof out)) << c.v;
        EXPECT_STREQ(out, c.want) << c.v;
    }
}

TEST(FormatFixed, RefusesWhatCannotBeSent)
{
    char out[8];
    EXPECT_FALSE(FormatFixed(std::nan(""), 5, 1, out, sizeof out));
    EXPECT_FALSE(FormatFixed(INFINITY, 5, 1, out, sizeof out));
    EXPECT_FALSE(FormatFixed(123456789.0, 5, 1, out, sizeof out)); // does not fit
}

TEST(ParseIntText, DevicesIntegerTexts)
{
    struct Case {
        const char *text;
        int want;
    } cases[] = {{"42", 42},
                 {"  -7x", -7},
                 {"+3", 3},
                 {"", 0},
                 {"abc", 0},
                 {"00012", 12},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1}};
    for (const Case &c : cases)
        EXPECT_EQ(ParseIntText(c.text), c.want) << c.text;
    EXPECT_EQ(ParseIntText(nullptr), 0);
}

TEST(PickReplyLine, StripsLineEndsAndKeepsTheLastOwnLine)
{
    auto any = [](const char *) { return true; };
    struct Case {
        const char *buf;
        bool found;
        const char *want;
    } cases[] = {
        {"#BD:00,CMD:OK\r\n", true, "#BD:00,CMD:OK"},
        {"#BD:00,CMD:OK\n\r", true, "#BD:00,CMD:OK"},
        {"\r\n#BD:00,CMD:OK,VAL:1\r\n", true, "#BD:00,CMD:OK,VAL:1"},
        {"old\r\nnew\r\n", true, "new"}, // a late reply in front of the answer
        {"#BD:00,CMD:O", false, ""},     // cut short
        {"", false, ""},
        {"\r\n", false, ""},
    };
    for (const Case &c : cases) {
        std::string line;
        EXPECT_EQ(PickReplyLine(c.buf, line, any), c.found) << c.buf;
        if (c.found) {
            EXPECT_EQ(line, c.want);
        }
    }
    std::string line;
    EXPECT_TRUE(
        PickReplyLine("mine\r\nother\r\n", line, [](const char *l) { return std::string(l) == "mine"; }));
    EXPECT_EQ(line, "mine");
}
