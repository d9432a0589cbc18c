// A small crate scripted in the fake wrapper and its node tree, built by
// hand so that limits and enumerations are exactly known:
//   slot 0: board of 4 channels: V0Set (numeric 0..1000), Pw (on/off,
//           "On"/"Off"), Mode (enumeration Low/Mid/High), Name (text)
//   slot 1: empty
//   slot 2: board of 3 channels: V0Set (numeric 0..3000), VSet (numeric)
//   slot 3: empty
#ifndef AUTOMATION_SUPPORT_H
#define AUTOMATION_SUPPORT_H

#include "FakeWrapper.h"
#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QVariantList>

#include <memory>

namespace autotest {

inline KORUHVNodeProperty *property(const char *name, const QVariant &value)
{
    auto *p = new KORUHVNodeProperty();
    p->setPropName(QString::fromLatin1(name));
    p->setPropVal(value);
    return p;
}

inline KORUHVNode *param(const char *name, unsigned wrapperType, unsigned short slot, unsigned short ch)
{
    KORUHVNode *p = KORUHVConfig::KORUHVConfigCreateNodeParam(NODE_CHANNEL_PARAM, QString::fromLatin1(name),
                                                              slot, wrapperType, 2, 2);
    p->setChIdx(ch);
    return p;
}

struct Crate {
    int handle = -1;
    std::unique_ptr<KORUHVNode> root;
    KORUHVNode *node() const { return root.get(); }
    KORUHVNode *channelParam(int slot, int ch, const char *name) const
    {
        KORUHVNode *c = root->getChildren()[slot]->getChildren()[ch];
        for (KORUHVNode *p : c->getParameters())
            if (p->getNodeName() == QLatin1String(name))
                return p;
        return nullptr;
    }
};

inline Crate makeCrate()
{
    fakehv::System sys;
    sys.props.push_back({"Name", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("crate")}});
    fakehv::Board &b0 = sys.addBoard(0, 4);
    for (auto &ch : b0.channels) {
        ch.params.push_back({"V0Set", {0, 2, fakehv::Raw::f32(0)}});
        ch.params.push_back({"Pw", {1, 2, fakehv::Raw::u32(0)}});
        ch.params.push_back({"Mode", {6, 2, fakehv::Raw::i32(0)}});
    }
    fakehv::Board &b2 = sys.addBoard(2, 3);
    for (auto &ch : b2.channels) {
        ch.params.push_back({"V0Set", {0, 2, fakehv::Raw::f32(0)}});
        ch.params.push_back({"VSet", {0, 2, fakehv::Raw::f32(0)}});
    }
    sys.crate.resize(4);
    Crate c;
    c.handle = fakehv::addSystem(sys);

    auto *root = new KORUHVNode();
    root->KORUHVPrepareNode(QStringLiteral("crate"), NODE_SYSTEM, 2, 0, QStringLiteral("10.0.0.1"), QString(),
                            QString());
    for (unsigned short slot = 0; slot < 4; ++slot) {
        if (slot == 1 || slot == 3) {
            root->addChildNode(new KORUHVNode()); // empty slot: grouping node
            continue;
        }
        const unsigned short n = slot == 0 ? 4 : 3;
        KORUHVNode *board = KORUHVConfig::KORUHVConfigCreateNodeBoard(slot, n, QStringLiteral("A1535"),
                                                                      QString(), 0, QString(), QString());
        for (unsigned short ch = 0; ch < n; ++ch) {
            KORUHVNode *channel = KORUHVConfig::KORUHVConfigCreateNodeChannel(QString(), ch, slot);
            KORUHVNode *v = param("V0Set", WRAPPER_TYPE_NUMERIC, slot, ch);
            v->addProperty(property("Minval", QVariant(0.0f)));
            v->addProperty(property("Maxval", QVariant(slot == 0 ? 1000.0f : 3000.0f)));
            v->addProperty(property("Decimal", QVariant(2)));
            channel->addParameter(v);
            if (slot == 0) {
                KORUHVNode *pw = param("Pw", WRAPPER_TYPE_ONOFF, slot, ch);
                pw->addProperty(property("Onstate", QVariant(QStringLiteral("On"))));
                pw->addProperty(property("Offstate", QVariant(QStringLiteral("Off"))));
                channel->addParameter(pw);
                KORUHVNode *mode = param("Mode", WRAPPER_TYPE_ENUM, slot, ch);
                mode->addProperty(property("Minval", QVariant(0.0f)));
                mode->addProperty(property("Maxval", QVariant(2.0f)));
                mode->addProperty(
                    property("Enum", QVariant(QVariantList{QStringLiteral("Low"), QStringLiteral("Mid"),
                                                           QStringLiteral("High")})));
                channel->addParameter(mode);
                channel->addParameter(param("Name", WRAPPER_TYPE_STRING, slot, ch));
            } else {
                channel->addParameter(param("VSet", WRAPPER_TYPE_NUMERIC, slot, ch));
            }
            board->addChildNode(channel);
        }
        root->addChildNode(board);
    }
    root->setSysHandle(c.handle);
    c.root.reset(root);
    return c;
}

// Processes events until the condition holds or the time is up. The default
// bound only catches a hang: a loaded machine is slow, not stuck.
template <typename Pred> bool waitFor(Pred pred, int timeoutMs = 120000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        // One pass at a time, so a test sees every state between turns.
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return true;
}

} // namespace autotest

#endif
