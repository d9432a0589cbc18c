// The reason the check gives for an action that reaches no channel names
// what is missing: the empty slot, the channel the board lacks, the slot
// beyond the crate; "unknown parameter" only where a channel was found.
#include "KORUHVScriptLanguage.h"
#include "automation_support.h"
#include "qt_gtest_print.h"

#include <gtest/gtest.h>

namespace {

using namespace koruscript;

TEST(CheckReasons, MissingSlotsAndChannelsAreNamed)
{
    fakehv::reset();
    const autotest::Crate crate = autotest::makeCrate(); // slots 1 and 3 empty, 4 channels in slot 0
    const struct {
        const char *script;
        const char *text;
    } cases[] = {
        {"set V0Set 1{0} 100;", "Syntax error in action [1]: slot 1 is empty"},
        {"wait 1; set V0Set 3{*} 100;", "Syntax error in action [2]: slot 3 is empty"},
        {"set V0Set 0{9} 100;", "Syntax error in action [1]: board in slot 0 has no channel 9"},
        {"set V0Set 0{-1} 100;", "Syntax error in action [1]: board in slot 0 has no channel -1"},
        {"set V0Set 0{4}:1{0} 100;", "Syntax error in action [1]: board in slot 0 has no channel 4"},
        {"set V0Set 9{0} 100;", "Syntax error in action [1]: there is no slot 9 (the crate has 4 slots)"},
        // A channel that is there but lacks the parameter.
        {"set VSet 0{1} 100;",
         "Syntax error in action [1]: unknown parameter \"VSet\" (no selected channel has it)"},
        {"set VSet 0{1}:1{0} 100;",
         "Syntax error in action [1]: unknown parameter \"VSet\" (no selected channel has it)"},
        // Words that are no numbers are named as such.
        {"set V0Set 0{x} 100;",
         "Syntax error in action [1]: channel list \"0{x}\": a channel is not a number"},
        {"set V0Set -1{0} 100;",
         "Syntax error in action [1]: channel list \"-1{0}\": a slot is not a number of 0 or more"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        const QVector<QString> actions = splitActions(QString::fromLatin1(c.script));
        const int n = checkActions(actions, crate.node());
        ASSERT_GT(n, 0);
        EXPECT_EQ(checkFailureText(actions, crate.node(), n), QString::fromLatin1(c.text));
    }
}

} // namespace
