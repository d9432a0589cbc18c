#include "panel_support.h"

#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "QSystemInterface.h"

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
    for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateSystemProps(handle))
        sys->addParameter(p);
    for (KORUHVNode *slot : KORUHVConfig::KORUHVConfigCreateBoards(handle)) {
        sys->addChildNode(slot);
        if (slot->getNodeType() != NODE_BOARD)
            continue;
        const unsigned short s = slot->getBdSlotNr();
        for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateBoardParams(handle, s, systemType))
            slot->addParameter(p);
        for (KORUHVNode *ch : KORUHVConfig::KORUHVConfigCreateChannels(handle, s, slot->getBdChCount())) {
            slot->addChildNode(ch);
            for (KORUHVNode *p :
                 KORUHVConfig::KORUHVConfigCreateChannelParams(handle, systemType, s, ch->getChIdx()))
                ch->addParameter(p);
        }
    }
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

ModalAnswerer::ModalAnswerer(int bound) : boundMs(bound)
{
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
    timer.start();
}

ModalAnswerer::~ModalAnswerer()
{
    timer.stop();
}

void ModalAnswerer::then(Handler handler)
{
    handlers.push_back(std::move(handler));
}

void ModalAnswerer::thenButton(QMessageBox::StandardButton button)
{
    then([button](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (box && box->button(button))
            box->button(button)->click();
        else if (auto *dialog = qobject_cast<QDialog *>(w))
            dialog->reject();
    });
}

void ModalAnswerer::poll()
{
    QWidget *w = QApplication::activeModalWidget();
    if (!w || w == last.data()) {
        if (!handlers.empty() && (elapsedMs += 10) > boundMs) {
            timedOutFlag = true;
            handlers.clear();
        }
        return;
    }
    last = w;
    elapsedMs = 0;
    SeenModal s;
    s.title = w->windowTitle();
    s.className = QString::fromLatin1(w->metaObject()->className());
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
        s.text = box->text();
        s.informative = box->informativeText();
    }
    seenModals.push_back(s);
    if (handlers.empty()) {
        // Not expected: closed at once, and visible in seen().
        if (auto *dialog = qobject_cast<QDialog *>(w))
            dialog->reject();
        else
            w->close();
        return;
    }
    Handler h = std::move(handlers.front());
    handlers.pop_front();
    h(w);
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
