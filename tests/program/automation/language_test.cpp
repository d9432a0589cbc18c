// The script language: action splitting, the channel-list parser and the
// checker, by tables over the small fake crate (slots 1 and 3 empty).
#include "KORUHVScriptLanguage.h"
#include "automation_support.h"
#include "qt_gtest_print.h"

#include <gtest/gtest.h>

using namespace koruscript;

namespace {

class Language : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        crate = autotest::makeCrate();
    }
    autotest::Crate crate;
};

struct ParseCase {
    const char *text;
    int code;
    Selection selection;
};

TEST_F(Language, ChannelListTable)
{
    const QVector<int> none;
    const ParseCase cases[] = {
        {"*", ParseAll, {}},
        {"*{}", ParseEmpty, {}},
        {"*5", ParseNoBrace, {}},
        {"*{1", ParseNoClosingBrace, {}},
        {"*{1,,2}", ParseBadChannel, {}},
        {"*{1,3}", ParseSelection, {{1, 3}, none, {1, 3}, none}},
        {"", ParseEmpty, {}},
        {"   ", ParseEmpty, {}},
        {"0{1}:", ParseEmpty, {{1}, none, none, none}},
        {"0{1}:0{3}", ParseSelection, {{3}, none, none, none}},
        {"2{*}", ParseSelection, {none, none, {0, 1, 2}, none}},
        {"1{*}", ParseSelection, {none, {0}, none, none}},
        {"9{1}", ParseSelection, {none, none, none, none, {9}}},
        {"9{1}:7{*}", ParseSelection, {none, none, none, none, {9}, {7}}},
        {"0{1}:9{1}:2{0}", ParseSelection, {{1}, none, {0}, none, {9}}},
        {"0{-1}", ParseSelection, {{-1}, none, none, none}},
        {"+2{2}", ParseSelection, {none, none, {2}, none}},
        {" 0 { 1 , 2 } ", ParseSelection, {{1, 2}, none, none, none}},
        {"-1{2}", ParseBadBoard, {}},
        {"x{2}", ParseBadBoard, {}},
        {"0{*x}", ParseEmpty, {none, none, none, none}},
        {"0", ParseNoBrace, {}},
        {"0{1", ParseNoClosingBrace, {}},
        {"0{}", ParseEmpty, {}},
        {"0{a}", ParseBadChannel, {none, none, none, none}},
        {"0{1}:2{x}", ParseBadChannel, {{1}, none, none, none}},
    };
    for (const ParseCase &c : cases) {
        int code = 99;
        const Selection s = parseChannelList(QString::fromLatin1(c.text), crate.node(), &code);
        EXPECT_EQ(code, c.code) << c.text;
        EXPECT_EQ(s, c.selection) << c.text;
    }
}

struct CheckCase {
    const char *action;
    int result;
};

TEST_F(Language, CheckerTable)
{
    const CheckCase cases[] = {
        {"set V0Set 0{1} 100", CheckValid},
        {"  set   V0Set\n0{1}\t100 ", CheckValid},
        {"set V0Set 0{1}", CheckTokenCount},
        {"set V0Set 0{1} 1 2", CheckTokenCount},
        {"   ", CheckTokenCount},
        {"", CheckSyntax},
        {"SET V0Set 0{1} 100", CheckSyntax},
        {"reset V0Set 0{1} 100", CheckSyntax},
        {"WAIT 100", CheckSyntax},
        {"wait 1.5", CheckSyntax},
        {"waiting 10", CheckSyntax},
        {"wait -100", CheckValid},
        {"wait 500", CheckValid},
        {"set V0Set 0{1 100", ParseNoClosingBrace},
        {"set V0Set *{} 100", ParseEmpty},
        {"set V0Set -1{0} 100", ParseBadBoard},
        // Limits of the matching parameters.
        {"set V0Set 0{1} 1000", CheckValid},
        {"set V0Set 0{1} 1000.5", CheckBadValue},
        {"set V0Set 0{1} -1", CheckBadValue},
        {"set V0Set 2{1} 2000", CheckValid},
        {"set V0Set * 2000", CheckBadValue},
        {"set V0Set 0{0} abc", CheckBadValue},
        {"set Pw 0{0} 1", CheckValid},
        {"set Pw 0{0} 0", CheckValid},
        {"set Pw 0{0} 2", CheckBadValue},
        {"set Pw 0{0} On", CheckBadValue},
        {"set Mode 0{0} 2", CheckValid},
        {"set Mode 0{0} 3", CheckBadValue},
        {"set Mode 0{0} High", CheckBadValue},
        {"set Name 0{0} left_arm", CheckValid},
        // The parameter must exist on a selected channel.
        {"set vset 2{1} 5", CheckValid},
        {"set VSet 0{1} 100", CheckUnknownParameter},
        {"set V0Set 1{0} 100", CheckUnknownParameter},
        {"set V0Set 0{9} 100", CheckUnknownParameter},
        {"set V0Set 9{0} 100", CheckUnknownParameter},
        {"set V0Set 0{0,9} 100", CheckValid},
        {"set Foo * 1", CheckUnknownParameter},
    };
    for (const CheckCase &c : cases)
        EXPECT_EQ(checkAction(QString::fromLatin1(c.action), crate.node()), c.result) << c.action;
    EXPECT_EQ(checkAction(QStringLiteral("wait 5"), nullptr), CheckSyntax);
}

TEST_F(Language, RefusedScriptsSayWhy)
{
    struct {
        const char *script;
        const char *text;
    } cases[] = {
        {"wait 1; set VOSet 0{1} 100;",
         "Syntax error in action [2]: unknown parameter \"VOSet\" (no selected channel has it)"},
        {"set V0Set 0{1} 5000;",
         "Syntax error in action [1]: value \"5000\" for V0Set: out of range (0 to 1000)"},
        {"set Pw 0{1} On;", "Syntax error in action [1]: value \"On\" for Pw: not 0 or 1"},
        {"set Mode 0{0} 3;", "Syntax error in action [1]: value \"3\" for Mode: not an index"},
        {"SET V0Set 0{1} 1;",
         "Syntax error in action [1]: unknown keyword \"SET\" (a four-word action starts with \"set\")"},
        {"wait soon;",
         "Syntax error in action [1]: wait time \"soon\" is not a whole number of milliseconds"},
        {"wait;", "Syntax error in action [1]: 1 words; an action is \"wait <ms>\" or "
                  "\"set <parameter> <channels> <value>\""},
        {"set V0Set 0{1 1;", "Syntax error in action [1]: channel list \"0{1\": \"}\" missing"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        const QVector<QString> actions = splitActions(QString::fromLatin1(c.script));
        const int n = checkActions(actions, crate.node());
        ASSERT_GT(n, 0);
        EXPECT_EQ(checkFailureText(actions, crate.node(), n), QString::fromLatin1(c.text));
    }
    // Without its system every script is refused, and the text says why.
    const QVector<QString> actions = splitActions(QStringLiteral("wait 1;"));
    EXPECT_EQ(checkActions(actions, nullptr), 1);
    EXPECT_EQ(checkFailureText(actions, nullptr, 1),
              QStringLiteral("The system of this script is no longer connected."));
}

TEST_F(Language, CheckerStoresParameterAndText)
{
    QString param, text;
    EXPECT_EQ(checkAction(QStringLiteral("set Foo x{1} 1"), crate.node(), &param, &text), ParseBadBoard);
    EXPECT_EQ(param, QStringLiteral("Foo"));
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(checkAction(QStringLiteral(" wait\n 20 "), crate.node(), &param, &text), CheckValid);
    EXPECT_EQ(text, QStringLiteral("wait 20"));
}

TEST_F(Language, SplitAndCheckScripts)
{
    EXPECT_EQ(splitActions(QStringLiteral("a; ;b;\n")), (QVector<QString>{"a", "b"}));
    EXPECT_EQ(splitActions(QStringLiteral(";;;")).size(), 0);
    struct {
        const char *script;
        int result;
    } cases[] = {
        {"wait 10;\nset V0Set 0{1} 100;\n", 0}, // a final line break is no action
        {"wait 10;set V0Set 0{1} 100", 0},
        {";;;", -1},
        {"", -1},
        {"wait 10; WAIT 5;", 2},
        {"wait 10;\nset V0Set 0{1} 100;\nset V0Set 0{1} 5000;\n", 3},
    };
    for (const auto &c : cases)
        EXPECT_EQ(checkActions(splitActions(QString::fromLatin1(c.script)), crate.node()), c.result)
            << c.script;

    int steps = 0;
    checkActions(splitActions(QStringLiteral("wait 1;wait 2;wait 3;")), crate.node(), nullptr, nullptr,
                 [&](int step) { steps += step; });
    EXPECT_EQ(steps, 99);
    EXPECT_EQ(progressStep(1), 99);
    EXPECT_EQ(progressStep(3), 33);
    EXPECT_EQ(progressStep(200), 1);
}

TEST_F(Language, MatchingParametersFollowTheSelection)
{
    int code = 0;
    const Selection s = parseChannelList(QStringLiteral("0{0,1}:2{2}"), crate.node(), &code);
    EXPECT_EQ(matchingParameters(crate.node(), s, code, QStringLiteral("v0set")).size(), 3);
    const Selection all = parseChannelList(QStringLiteral("*"), crate.node(), &code);
    EXPECT_EQ(matchingParameters(crate.node(), all, code, QStringLiteral("V0Set")).size(), 7);
}

} // namespace
