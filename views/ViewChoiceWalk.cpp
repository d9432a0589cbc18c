#include "ViewChoiceWalk.h"

#include "KORUHVNode.h"
#include "KORUHVParameterChooser.h"
#include "QConfigureViewDialog.h"

#include <QTreeWidget>

namespace viewchoice {

namespace {
constexpr int NodeRole = Qt::UserRole + 1;

bool anyShownAt(const QTreeWidgetItem *item, int depth)
{
    if (depth == 0)
        return KORUHVChoiceItemShown(item);
    if (item->isHidden() || !KORUHVChoiceItemShown(item))
        return false;
    for (int i = 0; i < item->childCount(); ++i)
        if (anyShownAt(item->child(i), depth - 1))
            return true;
    return false;
}
} // namespace

bool shown(const KORUHVNode *node, View view)
{
    return view == View::Table ? node->isNodeEnabled() : node->isEnabledInCustomView();
}

void setShown(KORUHVNode *node, View view, bool shown)
{
    if (view == View::Table)
        node->setNodeEnabled(shown);
    else
        node->setEnabledInCustomView(shown);
}

int visualIndex(const KORUHVNode *node, View view)
{
    return view == View::Table ? node->getVisualIndex() : node->getCustomViewVisualIndex();
}

void setVisualIndex(KORUHVNode *node, View view, int index)
{
    if (view == View::Table)
        node->setVisualIndex(index);
    else
        node->setCustomViewVisualIndex(index);
}

KORUHVNode *nodeOf(const QTreeWidgetItem *item)
{
    return item ? reinterpret_cast<KORUHVNode *>(item->data(0, NodeRole).value<quintptr>()) : nullptr;
}

void keepNode(QTreeWidgetItem *item, KORUHVNode *node)
{
    item->setData(0, NodeRole, QVariant::fromValue(quintptr(node)));
}

void forEachChannelParameter(const QVector<KORUHVNode *> &systems, Skip skip,
                             const std::function<void(KORUHVNode *)> &visit)
{
    for (KORUHVNode *system : systems) {
        if (skip.groupSystems && system->getNodeType() == NODE_GROUP)
            continue;
        for (KORUHVNode *board : system->getChildren()) {
            if (skip.groupBoards && board->getNodeType() == NODE_GROUP)
                continue;
            for (KORUHVNode *channel : board->getChildren())
                for (KORUHVNode *param : channel->getParameters())
                    visit(param);
        }
    }
}

void addChooserButtons(const QVector<KORUHVNode *> &systems, Skip skip, KORUHVParameterChooser &chooser,
                       View view, const std::function<void(QPushButton *)> &place)
{
    forEachChannelParameter(systems, skip, [&](KORUHVNode *param) {
        if (QPushButton *button = chooser.addName(param->getNodeName(), shown(param, view)))
            place(button);
    });
}

void moveChooserColumns(const QVector<KORUHVNode *> &systems, Skip skip, KORUHVParameterChooser &chooser,
                        View view)
{
    forEachChannelParameter(systems, skip, [&](KORUHVNode *param) {
        chooser.moveToVisualIndex(param->getNodeName(), visualIndex(param, view));
    });
}

void applyChooser(const QVector<KORUHVNode *> &systems, Skip skip, const KORUHVParameterChooser &chooser,
                  View view)
{
    forEachChannelParameter(systems, skip, [&](KORUHVNode *param) {
        const QString name = param->getNodeName();
        if (chooser.columnOf(name) < 0)
            return;
        setShown(param, view, chooser.isShown(name));
        setVisualIndex(param, view, chooser.visualPosition(name));
    });
}

bool anyChannelChosen(const QTreeWidget *tree, int channelDepth)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (anyShownAt(tree->topLevelItem(i), channelDepth))
            return true;
    return false;
}

QString choiceProblem(bool anyChannel, bool anyParameter)
{
    if (!anyChannel && !anyParameter)
        return QStringLiteral("Select at least one channel/parameter");
    if (!anyChannel)
        return QStringLiteral("Select at least one channel");
    if (!anyParameter)
        return QStringLiteral("Select at least one parameter");
    return QString();
}

} // namespace viewchoice
