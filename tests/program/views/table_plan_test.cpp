// The plan of a channel table, one row per decision: leading columns and
// their order, the set-value columns' offset menu and the trip columns'
// menu, names matched with case ignored, hidden rows and columns in a normal
// window and in the custom view, row labels, group boards, board visual
// indexes, and when the table has nothing to show.
#include "TablePlan.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <initializer_list>
#include <string>

namespace {

using namespace koruviews;

/* "Name" shown everywhere, "Name-" hidden in a normal window, "Name/"
 * hidden in the custom view. */
void parseFlags(const char *text, QString *name, bool *enabled, bool *enabledInCustom)
{
    *name = QString::fromLatin1(text);
    *enabled = !name->endsWith(QLatin1Char('-'));
    *enabledInCustom = !name->endsWith(QLatin1Char('/'));
    if (!*enabled || !*enabledInCustom)
        name->chop(1);
}

PlanChannel ch(const char *name, std::initializer_list<const char *> params)
{
    PlanChannel c;
    parseFlags(name, &c.name, &c.enabled, &c.enabledInCustom);
    for (const char *p : params) {
        PlanParameter pp;
        parseFlags(p, &pp.name, &pp.enabled, &pp.enabledInCustom);
        c.parameters.append(pp);
    }
    return c;
}

PlanBoard board(int position, unsigned short slot, const char *name, std::initializer_list<PlanChannel> chans)
{
    PlanBoard b;
    b.position = position;
    b.slot = slot;
    b.name = QString::fromLatin1(name);
    b.channels = chans;
    return b;
}

PlanBoard group(int position)
{
    PlanBoard b;
    b.position = position;
    b.isGroup = true;
    b.name = QStringLiteral("Empty");
    return b;
}

/* Columns as "name" with "-" hidden, "~" offset menu, "!" trip menu. */
std::string columnsText(const TablePlan &plan)
{
    QStringList out;
    for (const PlanColumn &c : plan.columns)
        out << c.name + (c.hidden ? "-" : "") + (c.offsetMenu ? "~" : "") + (c.tripMenu ? "!" : "");
    return out.join(' ').toStdString();
}

std::string rowsText(const TablePlan &plan)
{
    QStringList out;
    for (const PlanRow &r : plan.rows)
        out << r.label + (r.hidden ? "-" : "");
    return out.join(' ').toStdString();
}

/* Cells as "row/column=parameter". */
std::string cellsText(const TablePlan &plan)
{
    QStringList out;
    for (const PlanCell &c : plan.cells)
        out << QStringLiteral("%1/%2=%3").arg(c.row).arg(c.column).arg(c.parameter);
    return out.join(' ').toStdString();
}

/* Board visual indexes as "board>index". */
std::string boardsText(const TablePlan &plan)
{
    QStringList out;
    for (const PlanBoardIndex &b : plan.boardIndexes)
        out << QStringLiteral("%1>%2").arg(b.board).arg(b.visualIndex);
    return out.join(' ').toStdString();
}

struct Case {
    const char *what;
    TablePlanInput input;
    std::string columns, rows, cells, boards;
    bool hasContent;
};

TablePlanInput tree(bool custom, int rootType, std::initializer_list<PlanBoard> boards,
                    const char *systemName = "crate1")
{
    TablePlanInput in;
    in.customView = custom;
    in.rootSystemType = rootType;
    PlanSystem sys;
    sys.name = QString::fromLatin1(systemName);
    sys.boards = boards;
    in.systems.append(sys);
    return in;
}

TEST(TablePlan, EachTreeGetsItsPlan)
{
    const Case cases[] = {
        {"leading columns come first in their fixed order, the rest in tree order",
         tree(false, 2,
              {board(0, 0, "Board00",
                     {ch("Chan000",
                         {"SVMax", "Pw", "IMon", "VSet", "ISet", "Name", "Trip", "ChStatus", "RUp"})})}),
         "Name ISet~ VSet~ IMon Pw ChStatus RUp Trip SVMax", "00.000",
         "0/8=0 0/4=1 0/3=2 0/2=3 0/1=4 0/0=5 0/7=6 0/5=7 0/6=8", "0>0", true},
        {"a leading column is named by the first channel that has it; names match with case ignored",
         tree(false, 2,
              {board(0, 3, "Board03",
                     {ch("Chan000", {"IMon"}), ch("Chan001", {"vset", "IMon"}), ch("Chan002", {"VSET"})})}),
         "vset~ IMon", "03.000 03.001 03.002", "0/1=0 1/0=0 1/1=1 2/0=0", "0>0", true},
        {"only the first set-value name of a pass leads and carries the menu",
         tree(false, 2, {board(0, 0, "Board00", {ch("Chan000", {"ISet", "I0Set"})})}), "ISet~ I0Set",
         "00.000", "0/0=0 0/1=1", "0>0", true},
        {"the trip lines carry the trip menu, by exact name",
         tree(false, 2, {board(0, 0, "Board00", {ch("Chan000", {"TripInt", "TripExt", "tripint2"})})}),
         "TripInt! TripExt! tripint2", "00.000", "0/0=0 0/1=1 0/2=2", "0>0", true},
        {"a normal window hides what the tree disables, not what the custom view hides",
         tree(false, 2,
              {board(0, 0, "Board00", {ch("Chan000-", {"Name-", "VMon/", "Extra-"}), ch("Chan001/", {})})}),
         "Name- VMon Extra-", "00.000- 00.001", "0/0=0 0/1=1 0/2=2", "0>0", true},
        {"the custom view has no leading columns and its own hidden flags and labels",
         tree(true, 2,
              {board(0, 4, "Board04", {ch("Chan000/", {"VMon", "Name/", "Pw-"}), ch("Chan001-", {})})}),
         "VMon Name- Pw", "(crate1)04.000- (crate1)04.001", "0/0=0 0/1=1 0/2=2", "", true},
        {"group boards give no rows but keep their visual index",
         tree(false, 2, {group(0), board(2, 2, "Board02", {ch("Chan000", {"VMon"})}), group(3)}), "VMon",
         "02.000", "0/0=0", "0>0 1>2 2>3", true},
        {"P8080 crates number their slots in groups of 25",
         tree(false, 16, {board(0, 27, "Board27", {ch("Chan005", {"VMon"})})}), "VMon", "1.02.005", "0/0=0",
         "0>0", true},
        {"a channel listing one name twice plans both cells (the window keeps the first)",
         tree(false, 2, {board(0, 0, "Board00", {ch("Chan000", {"Extra", "EXTRA"})})}), "Extra", "00.000",
         "0/0=0 0/0=1", "0>0", true},
        {"every row hidden: nothing to show",
         tree(false, 2, {board(0, 0, "Board00", {ch("Chan000-", {"VMon"})})}), "VMon", "00.000-", "0/0=0",
         "0>0", false},
        {"every column hidden: nothing to show",
         tree(false, 2, {board(0, 0, "Board00", {ch("Chan000", {"VMon-"})})}), "VMon-", "00.000", "0/0=0",
         "0>0", false},
        {"no channels: nothing to show", tree(false, 2, {group(0)}), "", "", "", "0>0", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const TablePlan plan = planTable(c.input);
        EXPECT_EQ(columnsText(plan), c.columns);
        EXPECT_EQ(rowsText(plan), c.rows);
        EXPECT_EQ(cellsText(plan), c.cells);
        EXPECT_EQ(boardsText(plan), c.boards);
        EXPECT_EQ(plan.hasContent, c.hasContent);
    }
}

/* Rows follow the systems in order, each labelled with its own name. */
TEST(TablePlan, CustomViewSpansSystems)
{
    TablePlanInput in = tree(true, 2, {board(0, 1, "Board01", {ch("Chan000", {"VMon"})})}, "alpha");
    PlanSystem second;
    second.name = QStringLiteral("beta");
    second.boards = {board(1, 5, "Board05", {ch("Chan002", {"IMon", "VMon"})})};
    in.systems.append(second);
    const TablePlan plan = planTable(in);
    EXPECT_EQ(rowsText(plan), "(alpha)01.000 (beta)05.002");
    EXPECT_EQ(columnsText(plan), "VMon IMon");
    EXPECT_EQ(cellsText(plan), "0/0=0 1/1=0 1/0=1");
}

} // namespace
