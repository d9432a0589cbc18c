/* Helpers of the system-dialog tests: hand-made system trees and the texts
 * and lamps of a dialog. The dialogs are driven with
 * koru_test::answerNextModal (modal_answer.h). */
#ifndef SYSDIALOG_SUPPORT_H
#define SYSDIALOG_SUPPORT_H

#include "KORUHVNode.h"
#include "KORUHVNodeValue.h"

#include <QDateTime>
#include <QLabel>

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
