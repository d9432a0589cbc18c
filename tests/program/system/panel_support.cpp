#include "panel_support.h"

#include "KORUHVNode.h"
#include "QSystemInterface.h"
#include "system_tree.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace paneltest {

KORUHVNode *buildTree(int handle, int systemType, int linkType, const QString &address,
                      unsigned short slotCount, const QString &name)
{
    auto *sys = new KORUHVNode();
    sys->KORUHVPrepareNode(name, NODE_SYSTEM, systemType, linkType, address, QString(), QString());
    sys->setSysHandle(handle);
    sys->setSlotCount(slotCount);
    koru_test::fillTree(sys, handle, systemType,
                        {.systemProps = true, .boardParams = true, .properties = false});
    return sys;
}

PanelHost::PanelHost(int systemType, int linkType, const QString &address, KORUHVNode *root)
{
    iface = new QSystemInterface(systemType, linkType, address, QStringLiteral("HVSYS"), 0);
    iface->setSystemNode(root);
    QPixmap picture(40, 30);
    picture.fill(Qt::darkGray);
    panel = new QSystemInformations(picture, 0, iface, iface->panelFacts());
    if (systemType != -1)
        panel->setSystemTree(root);
    if (systemType == 2 || systemType == 3 || systemType == 16)
        panel->createSystemParameterWidgets();
    else if (systemType == 5 || systemType == 6 || systemType == 11 || systemType == 13)
        panel->createSystemButtonWidgets();
    QObject::connect(panel, &QSystemInformations::startLog, iface, &QSystemInterface::setIsLogStarted);
    QObject::connect(panel, &QSystemInformations::clickedWidget, iface, &QSystemInterface::clickWidget);
    if (systemType == 2 || systemType == 3)
        panel->showAdvancedFeatWidget(false);
}

PanelHost::~PanelHost()
{
    delete panel;
    delete iface;
}

bool hasSelectedLook(const QWidget *w)
{
    return w->styleSheet().contains(QLatin1String("#7fec2f"));
}
bool hasUnselectedLook(const QWidget *w)
{
    return w->styleSheet().contains(QLatin1String("#9d9d9d"));
}
bool hasPressedLook(const QWidget *w)
{
    return w->styleSheet().contains(QLatin1String("#747474"));
}
bool hasLitLook(const QWidget *w)
{
    return w->styleSheet().contains(QLatin1String("stop:0 #bfff27"));
}

bool showsLamp(const QWidget *widget, syspanel::Lamp lamp)
{
    auto *label = qobject_cast<const QLabel *>(widget);
    if (!label)
        return false;
    return label->property("lamp").toString() == syspanel::lampPicture(lamp) &&
           label->pixmap().toImage() == QPixmap(syspanel::lampPicture(lamp)).toImage();
}

} // namespace paneltest
