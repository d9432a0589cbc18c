/* One system's page of the BOARDS dock: an accordion with one entry per
 * board (title box above a form of the board's parameters). */
#ifndef QBOARDINFORMATIONS_H
#define QBOARDINFORMATIONS_H

#include "QCollapsibleWidget.h"

class KORUHVNode;

class QBoardInformations : public QCollapsibleWidget {
    Q_OBJECT
public:
    QBoardInformations(QWidget *parent, int index);
    ~QBoardInformations() override;

    void setSystemTree(KORUHVNode *tree) { systemTree = tree; }
    int getWidgetIdx() const { return widgetIdx; }
    void setWidgetIdx(int index) { widgetIdx = index; }
    void setIsCustomView(bool b) { isCustomView = b; }
    QWidget *getParentWidget() const { return parentWidget; }
    QCollapsibleWidget *getInternalWidget() const { return internalWidget; }

    void createInternalWidget();
    QWidget *createWidgetForBoardInformations(int boardPos, QString model);

    /* The board list: the system's slots, or every system's boards in the custom view. */
    QVector<KORUHVNode *> boardList() const;

private:
    QCollapsibleWidget *internalWidget = nullptr;
    int widgetIdx;
    QWidget *parentWidget;
    KORUHVNode *systemTree = nullptr;
    bool isCustomView = false;
};

/* Title of a board's entry by the system's type (table of the panel). */
QString KORUHVBoardTitle(KORUHVNode *board, int sysType, const QString &sysName, const QString &initParam,
                         bool customView, const QString &systemNodeName);
/* "Crate%1 Board%2" of a P8080 board node name, or the name itself. */
QString KORUHVP8080CrateBoardName(const QString &nodeName);

#endif
