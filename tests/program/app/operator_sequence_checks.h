/* The invariants of the operator-sequence walk: plain functions over the main
 * window's state that hold whatever the operator did. Each returns what it
 * found wrong; a finding carries the number of the known fault it shows (0:
 * none known), so that a development run can tolerate the ones being mended
 * elsewhere. Node pointers are compared by address against the nodes of the
 * connected systems' trees before anything is read through them. */
#ifndef OPERATOR_SEQUENCE_CHECKS_H
#define OPERATOR_SEQUENCE_CHECKS_H

#include "FakeWrapper.h"
#include "KORUHVMirrorNode.h"
#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "MainWindow.h"
#include "MainWindowUi.h"
#include "QBoardInformations.h"
#include "QCollapsibleWidget.h"
#include "QCustomBox.h"
#include "QCustomTableWidget.h"
#include "QScriptDialog.h"
#include "QSubWindow.h"
#include "QSystemInformations.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStackedWidget>

#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace opseq {

struct Finding {
    int fault; /* the known fault it shows, 0 when none */
    std::string text;
};
using Findings = std::vector<Finding>;

using NodeSet = std::unordered_set<const void *>;

inline void collectNodes(KORUHVNode *node, NodeSet &out)
{
    if (!node || !out.insert(node).second)
        return;
    for (KORUHVNode *p : node->getParameters())
        collectNodes(p, out);
    for (KORUHVNode *c : node->getChildren())
        collectNodes(c, out);
}

/* Every node of the connected systems' current trees (the custom view's root
 * and its members included). */
inline NodeSet liveNodes(const MainWindow *w)
{
    NodeSet out;
    for (QSystemInterface *s : w->getSysInterfaceVector())
        collectNodes(s->getSystemNode(), out);
    return out;
}

/* The boards an interface owns: a W38XX group's node also lists the other
 * boards of its bridge, which their own interfaces own. */
inline QVector<KORUHVNode *> ownBoards(const QSystemInterface *s)
{
    QVector<KORUHVNode *> out;
    if (!s->getSystemNode() || s->getIsCustomView())
        return out;
    for (KORUHVNode *b : s->getSystemNode()->getChildren())
        if (s->getSysType() != KORUHV_SYSTYPE_W38XX || b->getInitParam() == s->getSysInitParam())
            out.append(b);
    return out;
}

/* The interface whose own boards (or system node) hold the node; null when
 * none does (the node is of no connected system). */
inline QSystemInterface *ownerOf(const MainWindow *w, const void *node)
{
    for (QSystemInterface *s : w->getSysInterfaceVector()) {
        if (s->getIsCustomView() || !s->getSystemNode())
            continue;
        if (node == s->getSystemNode())
            return s;
        NodeSet own;
        for (KORUHVNode *b : ownBoards(s))
            collectNodes(b, own);
        for (KORUHVNode *p : s->getSystemNode()->getParameters())
            own.insert(p);
        if (own.count(node))
            return s;
    }
    return nullptr;
}

inline std::string name(const QSystemInterface *s)
{
    if (s->getIsCustomView())
        return "the custom view";
    if (s->getSysType() == KORUHV_SYSTYPE_W38XX) {
        const QVector<KORUHVNode *> own = ownBoards(s);
        return "W38XX board " + (own.isEmpty() ? std::string("?") : own.first()->getSysName().toStdString()) +
               " (" + s->getSysInitParam().toStdString() + ")";
    }
    return s->getSysName().toStdString() + " (" + s->getSysInitParam().toStdString() + ")";
}

inline bool sameBridge(const QSystemInterface *a, const QSystemInterface *b)
{
    const QStringList pa = a->getSysInitParam().split(QLatin1Char('_'));
    const QStringList pb = b->getSysInitParam().split(QLatin1Char('_'));
    return a->getSysType() == KORUHV_SYSTYPE_W38XX && b->getSysType() == KORUHV_SYSTYPE_W38XX &&
           a->getSysConnType() == b->getSysConnType() && pa.size() == 3 && pb.size() == 3 && pa[0] == pb[0] &&
           pa[1] == pb[1];
}

/* The interface that shows s (its group's main board, or itself). */
inline QSystemInterface *displayOf(const MainWindow *w, QSystemInterface *s)
{
    if (s->getSysType() != KORUHV_SYSTYPE_W38XX)
        return s;
    for (QSystemInterface *o : w->getSysInterfaceVector())
        if (sameBridge(o, s) && o->getIsMainInterface())
            return o;
    return s;
}

/* Panels, tables and board pages of each interface point at its own current
 * tree. */
inline Findings checkPanelsFollowTrees(const MainWindow *w)
{
    Findings out;
    for (QSystemInterface *s : w->getSysInterfaceVector()) {
        if (QSystemInformations *p = s->getSystemInfoWidget())
            if (p->getSystemTree() != s->getSystemNode())
                out.push_back(
                    {s->getSysType() == KORUHV_SYSTYPE_W38XX ? 2 : 0,
                     "the SYSTEM panel of " + name(s) + " refers to another tree than its system's"});
        if (QSubWindow *v = s->getSystemSubwinWidget())
            if (!s->getIsCustomView() && v->getSystemTree() != s->getSystemNode() &&
                !(v->getSystemTree() && v->getSystemTree()->getChildren().contains(s->getSystemNode())))
                out.push_back({0, "the table window of " + name(s) + " refers to another tree"});
    }
    return out;
}

/* Every open editor (table cells, board pages, dialogs) that still holds a
 * node holds one of a connected system's current tree. */
inline Findings checkEditorsOnLiveNodes(const MainWindow *w)
{
    Findings out;
    const NodeSet live = liveNodes(w);
    QWidget *cvPage = nullptr;
    if (QSystemInterface *cv = w->getSysInterfaceVector().value(const_cast<MainWindow *>(w)->hasCustomView()))
        if (cv->getBoardInfoWidget())
            cvPage = cv->getBoardInfoWidget()->getInternalWidget();
    QList<KORUHVWidgetItem *> editors = w->findChildren<KORUHVWidgetItem *>();
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top != w && top->isVisible())
            editors += top->findChildren<KORUHVWidgetItem *>();
    for (KORUHVWidgetItem *e : editors) {
        if (e->isCancelled() || !e->getReferenceNode() || live.count(e->getReferenceNode()))
            continue;
        const bool onCustomPage = cvPage && cvPage->isAncestorOf(e);
        out.push_back(
            {onCustomPage ? 3 : 0, std::string("an editor ") +
                                       (onCustomPage ? "on the custom view's BOARDS page "
                                                     : "(" + e->window()->objectName().toStdString() + ") ") +
                                       "holds a node of no connected system"});
    }
    return out;
}

/* A W38XX group: one main board, the group node lists each member's own
 * boards and nothing else, board indexes differ, one widget index. */
inline Findings checkW38xxGroups(const MainWindow *w)
{
    Findings out;
    const QVector<QSystemInterface *> v = w->getSysInterfaceVector();
    std::set<const QSystemInterface *> seen;
    for (QSystemInterface *s : v) {
        if (s->getSysType() != KORUHV_SYSTYPE_W38XX || seen.count(s))
            continue;
        QVector<QSystemInterface *> members;
        for (QSystemInterface *o : v)
            if (sameBridge(o, s))
                members.append(o), seen.insert(o);
        QSystemInterface *main = members.first();
        const std::string bridge = "the W38XX group of " + name(main);
        int mains = 0;
        std::set<int> indexes;
        for (QSystemInterface *m : members) {
            mains += m->getIsMainInterface() ? 1 : 0;
            if (!indexes.insert(m->getW38xxBoardIndex()).second)
                out.push_back(
                    {5, bridge + ": two boards have board index " + std::to_string(m->getW38xxBoardIndex())});
            if (m->getWidgetIndex() != main->getWidgetIndex())
                out.push_back({0, bridge + ": " + name(m) + " has another widget index than its main board"});
        }
        if (mains != 1 || !main->getIsMainInterface()) {
            out.push_back({0, bridge + ": " + std::to_string(mains) + " main boards, the first not main"});
            continue;
        }
        KORUHVNode *group = main->getSystemNode();
        if (!group)
            continue;
        std::set<const void *> expected, listed;
        for (QSystemInterface *m : members)
            for (KORUHVNode *b : ownBoards(m))
                expected.insert(b);
        for (KORUHVNode *b : group->getChildren())
            listed.insert(b);
        for (const void *b : expected)
            if (!listed.count(b))
                out.push_back({4, bridge + " no longer lists a board of one of its members (" +
                                      std::to_string(members.size()) + " boards connected, " +
                                      std::to_string(listed.size()) + " listed)"});
        for (const void *b : listed)
            if (!expected.count(b))
                out.push_back({0, bridge + " lists a board of no member"});
    }
    return out;
}

/* Row k of the SYSTEM dock is the box of the system (or custom view) of
 * widget index k, whose board page is page k. */
inline Findings checkWidgetIndexes(const MainWindow *w)
{
    Findings out;
    QCollapsibleWidget *list = w->systemList();
    const QVector<QSystemInterface *> v = w->getSysInterfaceVector();
    int displays = 0;
    for (QSystemInterface *s : v)
        displays += (s->getIsMainInterface() || s->getIsCustomView()) ? 1 : 0;
    if (list->topLevelItemCount() != displays)
        out.push_back({0, "the SYSTEM dock has " + std::to_string(list->topLevelItemCount()) + " rows for " +
                              std::to_string(displays) + " systems"});
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        QWidget *header = list->itemWidget(list->topLevelItem(row), 0);
        QSystemInterface *owner = nullptr;
        for (QSystemInterface *s : v)
            if ((s->getIsMainInterface() || s->getIsCustomView()) && s->getSystemBoxWidget() == header)
                owner = s;
        if (!owner) {
            out.push_back(
                {0, "row " + std::to_string(row) + " of the SYSTEM dock shows no connected system"});
            continue;
        }
        if (owner->getWidgetIndex() != row)
            out.push_back({0, name(owner) + " has widget index " + std::to_string(owner->getWidgetIndex()) +
                                  " on row " + std::to_string(row)});
        if (owner->getSystemBoxWidget()->getWidgetIdx() != row)
            out.push_back({0, "the box of " + name(owner) + " has another index than its row"});
        QWidget *page =
            owner->getBoardInfoWidget() ? owner->getBoardInfoWidget()->getInternalWidget() : nullptr;
        if (page && w->getUi()->stackedWidgetRight->indexOf(page) != row)
            out.push_back({0, "the board page of " + name(owner) + " is not page " + std::to_string(row)});
    }
    return out;
}

inline int runningScripts()
{
    int n = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QScriptDialog *>(top))
            n += d->isRunning() ? 1 : 0;
    return n;
}

/* With no script running every writable cell is editable and the menus are
 * on; while one runs the menus are off; one run dock at most. */
inline Findings checkScriptsAndCells(const MainWindow *w)
{
    Findings out;
    const int running = runningScripts();
    int docks = 0;
    for (QDockWidget *d : w->findChildren<QDockWidget *>(QString(), Qt::FindDirectChildrenOnly))
        docks += d->windowTitle() == QLatin1String("Script Execution") ? 1 : 0;
    if (docks > 1)
        out.push_back({6, std::to_string(docks) + " \"Script Execution\" docks"});
    QStringList on, off;
    for (QMenu *m : w->menuBar()->findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly))
        (m->isEnabled() ? on : off) << QLatin1Char('"') + m->title() + QLatin1Char('"');
    if (running > 0 && !on.isEmpty())
        out.push_back(
            {6, "menus " + on.join(QLatin1Char(' ')).toStdString() + " enabled while a script runs"});
    if (running == 0 && !off.isEmpty())
        out.push_back(
            {6, "menus " + off.join(QLatin1Char(' ')).toStdString() + " disabled with no script running"});
    const NodeSet live = liveNodes(w);
    for (QSystemInterface *s : w->getSysInterfaceVector()) {
        QSubWindow *v = s->getSystemSubwinWidget();
        QTableWidget *table = v ? v->getTableWidget() : nullptr;
        if (!table)
            continue;
        int locked = 0, stale = 0;
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount(); ++c) {
                QTableWidgetItem *cell = table->item(r, c);
                if (!cell)
                    continue;
                /* A node's own cell, or its mirror in the custom view; other
                 * cells are plain texts. */
                const void *node = dynamic_cast<KORUHVNode *>(cell);
                if (auto *mirror = dynamic_cast<KORUHVMirrorNode *>(cell))
                    node = mirror->getReferenceNode();
                if (!node)
                    continue;
                if (!live.count(node)) {
                    ++stale;
                    continue;
                }
                const auto *n = static_cast<const KORUHVNode *>(node);
                const bool writable =
                    n->getAccessRights() == ACCESS_READ_WRITE || n->getAccessRights() == ACCESS_WRITE_ONLY;
                if (writable && !(cell->flags() & Qt::ItemIsEditable))
                    ++locked;
            }
        if (stale > 0)
            out.push_back({0, "the table of " + name(s) + " shows " + std::to_string(stale) +
                                  " cells of no connected system"});
        if (locked > 0 && running == 0)
            out.push_back({6, std::to_string(locked) + " writable cells of " + name(s) +
                                  " not editable with no script running"});
    }
    return out;
}

/* Menus and actions as the connected systems and groups have them. */
inline Findings checkMenus(const MainWindow *w, const QStringList &groupNames)
{
    Findings out;
    const Ui_MainWindow *ui = w->getUi();
    const QVector<QSystemInterface *> v = w->getSysInterfaceVector();
    int mains = 0;
    for (QSystemInterface *s : v)
        mains += s->getIsMainInterface() ? 1 : 0;
    if (ui->menuConnect->isEnabled() != (mains < 4))
        out.push_back({0, "\"Connect\" is " + std::string(ui->menuConnect->isEnabled() ? "on" : "off") +
                              " with " + std::to_string(mains) + " systems"});
    for (QAction *a : {ui->menuCustomView, ui->menuCreateGroup, ui->menuSave})
        if (a->isEnabled() != !v.isEmpty())
            out.push_back({0, "\"" + a->text().toStdString() + "\" is " + (a->isEnabled() ? "on" : "off") +
                                  " with " + std::to_string(v.size()) + " systems"});
    QStringList actions;
    for (QAction *a : ui->menuViewGroups->actions())
        actions << a->text();
    if (actions != groupNames)
        out.push_back({11, "the groups menu lists [" + actions.join(QLatin1String(", ")).toStdString() +
                               "], the operator's groups are [" +
                               groupNames.join(QLatin1String(", ")).toStdString() + "]"});
    return out;
}

/* The writes of a step reached only the systems the operator acted on. */
inline Findings checkWrites(const std::vector<fakehv::Call> &calls, const std::set<int> &expected)
{
    Findings out;
    std::set<std::string> reported;
    for (const fakehv::Call &c : calls) {
        const bool write = c.function.rfind("KORUHV_Set", 0) == 0 || c.function == "KORUHV_ExecComm";
        if (!write || expected.count(c.handle))
            continue;
        std::string text = c.function + " " + c.name + " reached handle " + std::to_string(c.handle) +
                           ", the operator acted on ";
        if (expected.empty())
            text += "no system's value";
        for (int h : expected)
            text += "handle " + std::to_string(h) + " ";
        if (reported.insert(text).second)
            out.push_back({0, text});
    }
    return out;
}

} // namespace opseq

#endif
