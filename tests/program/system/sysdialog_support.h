/* Helpers of the system-dialog tests: hand-made system trees and a bounded
 * driver for modal dialogs. */
#ifndef SYSDIALOG_SUPPORT_H
#define SYSDIALOG_SUPPORT_H

#include "KORUHVNode.h"
#include "KORUHVNodeValue.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace sdtest {

/* A system-property node with a value (and, for writes, the system handle
 * and wrapper type). */
inline KORUHVNode *propNode(const QString &name, const QVariant &value, int handle = -1,
                            unsigned wrapperType = 0)
{
    auto *n = new KORUHVNode();
    n->KORUHVPrepareNode(name, NODE_SYSTEM_PROPERTY, -1, -1, QString(), QString(), QString());
    n->setSysHandle(handle);
    n->setParWrapperType(wrapperType);
    n->setNodeValue(KORUHVNodeValue(value, QUALITY_GOOD, QDateTime::currentDateTime()));
    return n;
}

inline std::unique_ptr<KORUHVNode> systemNode(int type,
                                              const std::vector<std::pair<QString, QVariant>> &params = {},
                                              const QString &initParam = QStringLiteral("127.0.0.2"))
{
    auto sys = std::make_unique<KORUHVNode>();
    sys->KORUHVPrepareNode(QStringLiteral("HV"), NODE_SYSTEM, type, 0, initParam, QStringLiteral("admin"),
                           QStringLiteral("admin"));
    for (const auto &p : params)
        sys->addParameter(propNode(p.first, p.second));
    return sys;
}

inline KORUHVNode *param(KORUHVNode *owner, const QString &name)
{
    for (KORUHVNode *p : owner->getParameters())
        if (p->getNodeName() == name)
            return p;
    return nullptr;
}

/* Runs `inside` on the next modal dialog once it is shown, then closes it
 * (unless `inside` did). Gives up after timeoutMs. Returns a flag that tells
 * whether the dialog was reached. */
inline std::shared_ptr<bool> whenModal(std::function<void(QDialog *)> inside, int timeoutMs = 5000)
{
    auto reached = std::make_shared<bool>(false);
    auto *timer = new QTimer();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, inside, reached, clock, timeoutMs]() {
        auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dlg && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (!dlg)
            return;
        *reached = true;
        QPointer<QDialog> guard(dlg);
        inside(dlg);
        if (guard && guard->isVisible())
            guard->close();
    });
    timer->start();
    return reached;
}

inline QString labelText(QWidget *w, const char *name)
{
    auto *l = w->findChild<QLabel *>(QString::fromLatin1(name));
    return l ? l->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
}

inline QString lamp(QWidget *w, const char *name)
{
    auto *l = w->findChild<QLabel *>(QString::fromLatin1(name));
    return l ? l->property("lampState").toString() : QStringLiteral("<missing>");
}

} // namespace sdtest

#endif
