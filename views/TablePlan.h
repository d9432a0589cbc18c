/* The plan of a channel table, computed from a plain copy of the node tree:
 * its columns (leading columns first, then each new parameter name in tree
 * order), its rows (one per channel, with its label), which of them start
 * hidden, which headers carry the offset or trip menu, where each parameter
 * goes and the visual indexes the nodes keep. QSubWindow only applies it;
 * kept plain so that it is tested by tables. */
#ifndef TABLEPLAN_H
#define TABLEPLAN_H

#include <QString>
#include <QVector>

namespace koruviews {

struct PlanParameter {
    QString name;
    bool enabled = true;         /* shown in a normal window */
    bool enabledInCustom = true; /* shown in the custom view */
};

struct PlanChannel {
    QString name;
    bool enabled = true;
    bool enabledInCustom = true;
    QVector<PlanParameter> parameters;
};

struct PlanBoard {
    int position = 0;     /* index among the system's children */
    bool isGroup = false; /* an empty slot: no channels of its own */
    unsigned short slot = 0;
    QString name;
    QVector<PlanChannel> channels;
};

struct PlanSystem {
    QString name; /* the system name, else the node name */
    QVector<PlanBoard> boards;
};

struct TablePlanInput {
    bool customView = false;
    int rootSystemType = 0;
    QVector<PlanSystem> systems;
};

struct PlanColumn {
    QString name;
    bool hidden = false;
    bool offsetMenu = false; /* a set-value leading column */
    bool tripMenu = false;   /* "TripInt" or "TripExt" */
};

/* Row r shows the r-th channel of the input (group boards skipped); r is
 * that channel's visual index. */
struct PlanRow {
    QString label;
    bool hidden = false;
};

/* Parameter `parameter` of the channel of row `row` goes to column `column`. */
struct PlanCell {
    int row = 0;
    int column = 0;
    int parameter = 0;
};

/* The visual index of the n-th board of the input (groups counted). */
struct PlanBoardIndex {
    int board = 0;
    int visualIndex = 0;
};

struct TablePlan {
    QVector<PlanColumn> columns;
    QVector<PlanRow> rows;
    QVector<PlanCell> cells;
    QVector<PlanBoardIndex> boardIndexes; /* normal windows only */
    bool hasContent = false;              /* some row and some column shown */
};

TablePlan planTable(const TablePlanInput &input);

} // namespace koruviews

#endif
