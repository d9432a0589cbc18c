// Shared helpers of the tree, configuration and file tests: a hand encoder of
// the data-stream layout (independent of the codec under test), the byte
// fixture of a tiny configuration, an order-aware hash comparison and small
// tree makers.
#ifndef MODEL_TREE_TEST_SUPPORT_H
#define MODEL_TREE_TEST_SUPPORT_H

#include "KORUHVNode.h"
#include "KvcStream.h"

#include <QByteArray>
#include <QMultiHash>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <string>

namespace mt {

// Big-endian bytes written field by field, following the file layout.
struct Bytes {
    QByteArray b;

    Bytes &u8(quint8 v)
    {
        b.append(char(v));
        return *this;
    }
    Bytes &u16(quint16 v) { return u8(quint8(v >> 8)).u8(quint8(v)); }
    Bytes &u32(quint32 v) { return u16(quint16(v >> 16)).u16(quint16(v)); }
    Bytes &str(const QString &s)
    {
        u32(quint32(s.size() * 2));
        for (QChar c : s)
            u16(c.unicode());
        return *this;
    }
    Bytes &nullStr() { return u32(0xFFFFFFFFu); }
    Bytes &key(const char *k) { return str(QString::fromLatin1(k)); }
    Bytes &vBool(bool v) { return u32(1).u8(0).u8(v ? 1 : 0); }
    Bytes &vInt(qint32 v) { return u32(2).u8(0).u32(quint32(v)); }
    Bytes &vUInt(quint32 v) { return u32(3).u8(0).u32(v); }
    Bytes &vStr(const QString &s) { return u32(10).u8(0).str(s); }
    Bytes &vHash(quint32 count) { return u32(28).u8(0).u32(count); }
};

// The configuration of the fixture tree (system HV1, type 2, link 0, address
// 10.0.0.5; one board with serial 4000000000 at visual index 0; one channel
// shown in both views; its one parameter VMon), both view flags. Each level
// is in the reverse of the iteration order of the Qt 4 hash the files were
// first written from (17 buckets; "connType" and "isCustomView" share one,
// so do a channel's "visualIndex" and "parameters").
inline QByteArray fixtureBytes()
{
    Bytes f;
    f.u32(6);
    f.key("initParam").vStr(QStringLiteral("10.0.0.5"));
    f.key("name").vStr(QStringLiteral("HV1"));
    f.key("psType").vInt(2);
    f.key("boards").vHash(4);
    {
        f.key("isPresent").vInt(1);
        f.key("serialNumber").vUInt(4000000000u);
        f.key("visualIndex").vInt(0);
        f.key("channels").vHash(6);
        {
            f.key("vectorIndex").vInt(0);
            f.key("customViewVisualIndex").vInt(5);
            f.key("isEnabled").vBool(true);
            f.key("parameters").vHash(6);
            {
                f.key("vectorIndex").vInt(0);
                f.key("name").vStr(QStringLiteral("VMon"));
                f.key("customViewVisualIndex").vInt(1);
                f.key("isEnabled").vBool(true);
                f.key("visualIndex").vInt(3);
                f.key("isEnabledInCustomView").vBool(false);
            }
            f.key("visualIndex").vInt(0);
            f.key("isEnabledInCustomView").vBool(true);
        }
    }
    f.key("isCustomView").vInt(0);
    f.key("connType").vInt(0);
    return f.b;
}

// The same configuration as an in-memory hash.
inline KvcStream::Hash fixtureHash()
{
    KvcStream::Hash parameter;
    parameter.insert("vectorIndex", QVariant(0));
    parameter.insert("name", QVariant(QStringLiteral("VMon")));
    parameter.insert("visualIndex", QVariant(3));
    parameter.insert("isEnabled", QVariant(true));
    parameter.insert("isEnabledInCustomView", QVariant(false));
    parameter.insert("customViewVisualIndex", QVariant(1));
    KvcStream::Hash channel;
    channel.insert("vectorIndex", QVariant(0));
    channel.insert("isEnabled", QVariant(true));
    channel.insert("visualIndex", QVariant(0));
    channel.insert("isEnabledInCustomView", QVariant(true));
    channel.insert("customViewVisualIndex", QVariant(5));
    channel.insert("parameters", KvcStream::toVariant(parameter));
    KvcStream::Hash board;
    board.insert("isPresent", QVariant(1));
    board.insert("serialNumber", QVariant(4000000000u));
    board.insert("visualIndex", QVariant(0));
    board.insert("channels", KvcStream::toVariant(channel));
    KvcStream::Hash top;
    top.insert("name", QVariant(QStringLiteral("HV1")));
    top.insert("initParam", QVariant(QStringLiteral("10.0.0.5")));
    top.insert("psType", QVariant(2));
    top.insert("connType", QVariant(0));
    top.insert("isCustomView", QVariant(0));
    top.insert("boards", KvcStream::toVariant(board));
    return top;
}

// Equal keys, and under each key the same values in the same order, nested
// levels compared the same way; scalars must also have the same type.
inline bool deepEqual(const KvcStream::Hash &a, const KvcStream::Hash &b, std::string *why = nullptr)
{
    QStringList ka = a.uniqueKeys();
    QStringList kb = b.uniqueKeys();
    std::sort(ka.begin(), ka.end());
    std::sort(kb.begin(), kb.end());
    if (ka != kb) {
        if (why)
            *why = "keys differ: " + ka.join(',').toStdString() + " / " + kb.join(',').toStdString();
        return false;
    }
    for (const QString &k : ka) {
        const QList<QVariant> va = a.values(k);
        const QList<QVariant> vb = b.values(k);
        if (va.size() != vb.size()) {
            if (why)
                *why = "value count differs under " + k.toStdString();
            return false;
        }
        for (int i = 0; i < va.size(); ++i) {
            const bool ha = KvcStream::holdsHash(va[i]);
            const bool hb = KvcStream::holdsHash(vb[i]);
            if (ha != hb)
                return false;
            if (ha) {
                if (!deepEqual(KvcStream::hashFromVariant(va[i]), KvcStream::hashFromVariant(vb[i]), why))
                    return false;
            } else if (va[i].metaType() != vb[i].metaType() || va[i] != vb[i]) {
                if (why)
                    *why = "value differs under " + k.toStdString() + ": " + va[i].toString().toStdString() +
                           " / " + vb[i].toString().toStdString();
                return false;
            }
        }
    }
    return true;
}

inline KORUHVNode *makeSystem(const QString &name, int sysType, int connType, const QString &initParam)
{
    auto *n = new KORUHVNode();
    n->KORUHVPrepareNode(name, NODE_SYSTEM, sysType, connType, initParam, QString(), QString());
    return n;
}

inline KORUHVNode *makeNode(const QString &name, nodeType type)
{
    auto *n = new KORUHVNode();
    n->KORUHVPrepareNode(name, type, -1, -1, QString(), QString(), QString());
    return n;
}

// A board at a slot with channels, each holding the given parameters.
inline KORUHVNode *makeBoard(unsigned short slot, unsigned serial, int channels, const QStringList &params)
{
    KORUHVNode *board = makeNode(QString::asprintf("Board%02d", slot), NODE_BOARD);
    board->setBdSlotNr(slot);
    board->setBdSerNr(serial);
    board->setBdChCount((unsigned short)channels);
    board->setVisualIndex(slot);
    for (int c = 0; c < channels; ++c) {
        KORUHVNode *ch = makeNode(QString::asprintf("Chan%03d", c), NODE_CHANNEL);
        ch->setChIdx((unsigned short)c);
        ch->setVisualIndex(c);
        for (int p = 0; p < params.size(); ++p) {
            KORUHVNode *par = makeNode(params[p], NODE_CHANNEL_PARAM);
            par->setVisualIndex(p);
            ch->addParameter(par);
        }
        board->addChildNode(ch);
    }
    return board;
}

// The tree whose configuration is the byte fixture.
inline KORUHVNode *fixtureTree()
{
    KORUHVNode *sys = makeSystem(QStringLiteral("HV1"), 2, 0, QStringLiteral("10.0.0.5"));
    KORUHVNode *board = makeBoard(0, 4000000000u, 1, {QStringLiteral("VMon")});
    board->setVisualIndex(0);
    KORUHVNode *ch = board->getChildren()[0];
    ch->setNodeEnabled(true);
    ch->setVisualIndex(0);
    ch->setEnabledInCustomView(true);
    ch->setCustomViewVisualIndex(5);
    KORUHVNode *par = ch->getParameters()[0];
    par->setNodeEnabled(true);
    par->setVisualIndex(3);
    par->setEnabledInCustomView(false);
    par->setCustomViewVisualIndex(1);
    sys->addChildNode(board);
    return sys;
}

} // namespace mt

#endif
