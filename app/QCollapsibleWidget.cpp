#include "QCollapsibleWidget.h"

#include "QCustomBox.h"

#include <QHeaderView>

QCollapsibleWidget::QCollapsibleWidget(QWidget *parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("QCollapsibleWidget"));
    setColumnCount(1);
    header()->hide();
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setIndentation(0);
    setExpandsOnDoubleClick(false);
    setContentsMargins(0, 0, 0, 0);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

QCollapsibleWidget::~QCollapsibleWidget()
{
    /* Item widgets are owned by the viewport; delete them before the items. */
    const QList<QWidget *> widgets = findChildren<QWidget *>();
    for (int i = widgets.size() - 1; i >= 0; --i)
        if (widgets[i]->parentWidget() == viewport())
            delete widgets[i];
}

void QCollapsibleWidget::addChildWidget(QWidget *content, QWidget *header)
{
    auto *item = new QTreeWidgetItem(this);
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    setItemWidget(item, 0, header);
    if (auto *box = qobject_cast<QCustomBox *>(header))
        connect(box, &QCustomBox::clickedExpandButton, this,
                [this, item](int) { item->setExpanded(!item->isExpanded()); });
    if (content) {
        auto *child = new QTreeWidgetItem;
        /* The items' one-pixel border (style sheet) comes off the room of
         * the widget inside: the row asks for that much more. */
        child->setSizeHint(0, QSize(0, content->sizeHint().height() + 2));
        item->insertChild(0, child);
        setItemWidget(child, 0, content);
    }
    item->setExpanded(true);
}

void QCollapsibleWidget::setAllChildrenExpanded(bool expanded)
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        topLevelItem(i)->setExpanded(expanded);
}

void QCollapsibleWidget::expandItem(int index)
{
    if (QTreeWidgetItem *item = topLevelItem(index))
        item->setExpanded(!item->isExpanded());
}
