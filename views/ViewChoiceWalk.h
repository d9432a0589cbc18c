/* The walks the two view-choice dialogs share (QConfigureViewDialog for a
 * system's Custom mode, QCustomViewDialog for the custom view across
 * systems): over the channel parameters of the systems they edit, writing
 * the parameter chooser's choice to them for the view being edited, and the
 * "is any channel chosen" test of the choice tree. The two views keep
 * separate flags and places on every node; View says which ones. */
#ifndef VIEWCHOICEWALK_H
#define VIEWCHOICEWALK_H

#include <QString>
#include <QVector>

#include <functional>

class KORUHVNode;
class KORUHVParameterChooser;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace viewchoice {

enum class View { Table, CustomView };

bool shown(const KORUHVNode *node, View view);
void setShown(KORUHVNode *node, View view, bool shown);
int visualIndex(const KORUHVNode *node, View view);
void setVisualIndex(KORUHVNode *node, View view, int index);

/* The node a choice item stands for; items keep it directly. */
KORUHVNode *nodeOf(const QTreeWidgetItem *item);
void keepNode(QTreeWidgetItem *item, KORUHVNode *node);

/* The grouping nodes a walk passes over. */
struct Skip {
    bool groupSystems;
    bool groupBoards;
};

/* Every channel parameter of the systems, board by board. */
void forEachChannelParameter(const QVector<KORUHVNode *> &systems, Skip skip,
                             const std::function<void(KORUHVNode *)> &visit);

/* A chooser button per parameter name (the first parameter of each name
 * sets whether it starts shown); place puts each new button in the form. */
void addChooserButtons(const QVector<KORUHVNode *> &systems, Skip skip, KORUHVParameterChooser &chooser,
                       View view, const std::function<void(QPushButton *)> &place);
/* The chooser's columns in the order the parameters have in the view. */
void moveChooserColumns(const QVector<KORUHVNode *> &systems, Skip skip, KORUHVParameterChooser &chooser,
                        View view);
/* The chooser's choice written to every parameter of a name it knows:
 * shown or not, and its place, in the view. */
void applyChooser(const QVector<KORUHVNode *> &systems, Skip skip, const KORUHVParameterChooser &chooser,
                  View view);

/* True when a channel item (at channelDepth below the top level) is shown
 * under top-level and middle items that are neither hidden nor unshown. */
bool anyChannelChosen(const QTreeWidget *tree, int channelDepth);

/* Why OK cannot take the choice (no channel, no parameter, or neither
 * chosen), or empty when it can. */
QString choiceProblem(bool anyChannel, bool anyParameter);

} // namespace viewchoice

#endif
