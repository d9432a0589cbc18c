/* An accordion: one top-level entry per header box, its content below it. */
#ifndef QCOLLAPSIBLEWIDGET_H
#define QCOLLAPSIBLEWIDGET_H

#include <QTreeWidget>

class QCollapsibleWidget : public QTreeWidget {
    Q_OBJECT
public:
    explicit QCollapsibleWidget(QWidget *parent = nullptr);
    ~QCollapsibleWidget() override;

    void addChildWidget(QWidget *content, QWidget *header);
    void setAllChildrenExpanded(bool expanded);

public Q_SLOTS:
    void expandItem(int index);
};

#endif
