#include "TablePlan.h"

#include "QSubWindowLayout.h"

#include <QHash>

namespace koruviews {

namespace {

/* Columns are found by name with case ignored. */
class ColumnList {
public:
    explicit ColumnList(TablePlan &plan) : plan(plan) {}
    int find(const QString &name) const { return byName.value(name.toLower(), -1); }
    int append(const QString &name, bool hidden)
    {
        PlanColumn c;
        c.name = name;
        c.hidden = hidden;
        plan.columns.append(c);
        byName.insert(name.toLower(), int(plan.columns.size()) - 1);
        return int(plan.columns.size()) - 1;
    }

private:
    TablePlan &plan;
    QHash<QString, int> byName;
};

/* Channels in row order: every channel of every board that is not a group. */
template <typename F> void forEachChannel(const TablePlanInput &in, F f)
{
    for (const PlanSystem &sys : in.systems)
        for (const PlanBoard &board : sys.boards)
            if (!board.isGroup)
                for (const PlanChannel &ch : board.channels)
                    f(ch);
}

} // namespace

TablePlan planTable(const TablePlanInput &in)
{
    TablePlan plan;
    ColumnList columns(plan);

    /* A normal window opens with its leading columns, each taken from the
     * first parameter in row order that matches its pass. */
    if (!in.customView) {
        for (int pass = 0; pass < leadingColumnPassCount(); ++pass) {
            const PlanParameter *found = nullptr;
            forEachChannel(in, [&](const PlanChannel &ch) {
                for (const PlanParameter &p : ch.parameters) {
                    if (found)
                        return;
                    if (matchesLeadingPass(pass, p.name))
                        found = &p;
                }
            });
            if (!found || columns.find(found->name) >= 0)
                continue;
            const int col = columns.append(found->name, !found->enabled);
            plan.columns[col].offsetMenu = isSetValuePass(pass);
        }
    }

    int boardNumber = 0;
    for (const PlanSystem &sys : in.systems) {
        for (const PlanBoard &board : sys.boards) {
            if (!in.customView)
                plan.boardIndexes.append({boardNumber, board.position});
            ++boardNumber;
            if (board.isGroup)
                continue;
            for (const PlanChannel &ch : board.channels) {
                PlanRow row;
                row.label =
                    rowLabel(in.customView, in.rootSystemType, sys.name, board.slot, board.name, ch.name);
                row.hidden = in.customView ? !ch.enabledInCustom : !ch.enabled;
                const int r = int(plan.rows.size());
                plan.rows.append(row);
                for (int p = 0; p < ch.parameters.size(); ++p) {
                    const PlanParameter &param = ch.parameters[p];
                    int col = columns.find(param.name);
                    if (col < 0) {
                        col = columns.append(param.name,
                                             in.customView ? !param.enabledInCustom : !param.enabled);
                        plan.columns[col].tripMenu =
                            param.name == QLatin1String("TripInt") || param.name == QLatin1String("TripExt");
                    }
                    plan.cells.append({r, col, p});
                }
            }
        }
    }

    bool anyRow = false, anyColumn = false;
    for (const PlanRow &r : plan.rows)
        anyRow = anyRow || !r.hidden;
    for (const PlanColumn &c : plan.columns)
        anyColumn = anyColumn || !c.hidden;
    plan.hasContent = anyRow && anyColumn;
    return plan;
}

} // namespace koruviews
