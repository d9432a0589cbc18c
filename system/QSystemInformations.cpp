#include "QSystemInformations.h"

#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"

#include <QFormLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

QSystemInformations::QSystemInformations(QPixmap picture, QString text, int widgetIndex, QWidget *parent)
    : QWidget(nullptr), widgetIdx(widgetIndex), parentWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *pic = new QLabel(this);
    pic->setPixmap(picture);
    pic->setAlignment(Qt::AlignCenter);
    layout->addWidget(pic);
    auto *label = new QLabel(text, this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

void QSystemInformations::createSystemParameterWidgets()
{
    if (!systemTree)
        return;
    auto *form = new QFormLayout;
    for (KORUHVNode *p : systemTree->getParameters()) {
        auto *item = new KORUHVWidgetItem(this, p);
        item->setObjectName(p->getNodeName());
        item->createInternalWidget(p->getDataType(), p->getAccessRights(), p->getExpUnitShortForm(),
                                   p->getNodeValue().KORUHVGetValue(), p->getNodeDecimals(), true);
        form->addRow(p->getNodeName(), item);
    }
    static_cast<QVBoxLayout *>(layout())->addLayout(form);
}

void QSystemInformations::createSystemButtonWidgets() {}

void QSystemInformations::showAdvancedFeatWidget(bool show)
{
    if (QWidget *adv = findChild<QWidget *>(QStringLiteral("advWid")))
        adv->setVisible(show);
}

void QSystemInformations::setSelected(bool selected)
{
    isSelected = selected;
}

void QSystemInformations::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clickedWidget();
}
