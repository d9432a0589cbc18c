// Fake-wrapper crates, their node trees built as the program builds them,
// and a stand-in for the main window's side (KORUHVCustomizationHost).
// Modal boxes are answered with koru_test::answerNextModal (modal_answer.h).
#ifndef GROUPS_SUPPORT_H
#define GROUPS_SUPPORT_H

#include "FakeWrapper.h"
#include "KORUHVConfig.h"
#include "KORUHVCustomizations.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"

#include <QMenu>
#include <QWidget>

#include <memory>
#include <string>

namespace gt {

inline fakehv::Param param(unsigned type, unsigned mode, fakehv::Raw value,
                           std::map<std::string, fakehv::Raw> props = {})
{
    fakehv::Param p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    p.props = std::move(props);
    return p;
}

// A crate: boards in slotNodes 0..boards-1 (serials 100+slot), each with
// channels "V0Set" (0..3000), "Pw" (on/off texts) and "VMon" (read-only).
inline fakehv::System crate(int boards, int channels, const std::string &onText = "On",
                            const std::string &offText = "Off", unsigned serialBase = 100)
{
    fakehv::System sys;
    for (int b = 0; b < boards; ++b) {
        fakehv::Board &board = sys.addBoard(b, channels, "A1535", serialBase + b);
        for (auto &ch : board.channels) {
            ch.params.push_back({"V0Set", param(0, 2, fakehv::Raw::f32(10.f),
                                                {{"Minval", fakehv::Raw::f32(0.f)},
                                                 {"Maxval", fakehv::Raw::f32(3000.f)},
                                                 {"Unit", fakehv::Raw::u16(2)},
                                                 {"Exp", fakehv::Raw::i16(0)},
                                                 {"Decimal", fakehv::Raw::i16(1)}})});
            ch.params.push_back({"Pw", param(1, 2, fakehv::Raw::u32(0),
                                             {{"Onstate", fakehv::Raw::text(onText)},
                                              {"Offstate", fakehv::Raw::text(offText)}})});
            ch.params.push_back(
                {"VMon", param(0, 0, fakehv::Raw::f32(0.f),
                               {{"Minval", fakehv::Raw::f32(0.f)}, {"Maxval", fakehv::Raw::f32(3000.f)}})});
        }
    }
    return sys;
}

// The tree of an open handle, built level by level as the program does.
inline KORUHVNode *buildTree(int handle, const QString &name, const QString &initParam, int sysType,
                             int linkType)
{
    auto *root = new KORUHVNode();
    root->KORUHVPrepareNode(name, NODE_SYSTEM, sysType, linkType, initParam, QString(), QString());
    root->setAccessRights(ACCESS_OTHER);
    root->setConnectionStatus(CONN_OK);
    root->setSysHandle(handle);
    const QVector<KORUHVNode *> slotNodes = KORUHVConfig::KORUHVConfigCreateBoards(handle);
    root->setSlotCount(static_cast<unsigned short>(slotNodes.size()));
    for (KORUHVNode *slot : slotNodes) {
        root->addChildNode(slot);
        slot->setSysName(name);
        if (slot->getNodeType() == NODE_GROUP)
            continue;
        const unsigned short s = slot->getBdSlotNr();
        for (KORUHVNode *ch : KORUHVConfig::KORUHVConfigCreateChannels(handle, s, slot->getBdChCount())) {
            ch->setSysName(name);
            ch->setBdName(slot->getNodeName());
            slot->addChildNode(ch);
            for (KORUHVNode *p :
                 KORUHVConfig::KORUHVConfigCreateChannelParams(handle, sysType, s, ch->getChIdx())) {
                p->setBdName(slot->getNodeName());
                p->setChName(ch->getNodeName());
                p->setChIdx(ch->getChIdx());
                p->setSysName(name);
                ch->addParameter(p);
                for (KORUHVNodeProperty *prop : KORUHVConfig::KORUHVConfigCreateChannelParameterProperties(
                         handle, p->getNodeName(), p->getParWrapperType(), s, ch->getChIdx())) {
                    if (prop->getPropName() == QLatin1String("Decimal"))
                        p->setNodeDecimals(prop->getPropVal().KORUHVGetValue().toInt());
                    p->addProperty(prop);
                }
            }
        }
    }
    root->setSysHandle(handle);
    return root;
}

// The main window's side: a vector of systems it owns, a connect that opens
// queued fake systems, and counters of the table-window calls.
class FakeHost : public KORUHVCustomizationHost {
public:
    struct Entry {
        std::unique_ptr<KORUHVNode> root;
        int widgetIndex = 0;
        bool isMain = true;
        bool isCustomView = false;
        bool customMode = true;
    };
    QWidget window;
    QMenu menu;
    std::vector<Entry> entries;
    int reapplied = 0;
    int rebuilt = 0;
    int connectCalls = 0;

    KORUHVNode *connectTree(int handle, const QString &name, const QString &initParam, int sysType = 2,
                            int linkType = 0)
    {
        Entry e;
        e.root.reset(buildTree(handle, name, initParam, sysType, linkType));
        e.widgetIndex = mainCount();
        entries.push_back(std::move(e));
        return entries.back().root.get();
    }
    int mainCount() const
    {
        int n = 0;
        for (const auto &e : entries)
            n += e.isMain ? 1 : 0;
        return n;
    }
    int positionOf(KORUHVNode *root) const
    {
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].root.get() == root)
                return int(i);
        return -1;
    }
    // As the main window disconnects: purge first, then delete the tree.
    void disconnect(KORUHVCustomizations &c, int position)
    {
        KORUHVNode *root = entries[position].root.get();
        c.removeNodesFromGroups(root->getSysHandle());
        c.removeSystemFromCustomView(position);
        entries.erase(entries.begin() + position);
    }

    QVector<System> systemsForCustomizations() const override
    {
        QVector<System> out;
        for (const auto &e : entries)
            out.append({e.root.get(), e.widgetIndex, e.isMain, e.isCustomView});
        return out;
    }
    QWidget *customizationDialogParent() override { return &window; }
    void connectForCustomizations(int psType, int connType, QString initParam, QString name, QString user,
                                  QString password) override
    {
        ++connectCalls;
        QByteArray address = initParam.toLatin1();
        int handle = -1;
        if (KORUHV_InitSystem(psType, connType, address.data(), user.toLatin1().constData(),
                              password.toLatin1().constData(), &handle) != 0)
            return;
        connectTree(handle, name, initParam, psType, connType);
    }
    bool isTableInCustomMode(int position) override { return entries.at(position).customMode; }
    void reapplyCustomTableMode(int) override { ++reapplied; }
    void rebuildTable(int) override { ++rebuilt; }
    void addCustomViewInterface(KORUHVNode *root, int widgetIndex) override
    {
        Entry e;
        e.root.reset(root);
        e.widgetIndex = widgetIndex;
        e.isMain = false; // a pseudo system, never a member of itself
        e.isCustomView = true;
        entries.push_back(std::move(e));
    }
};

// Channel node of system root, board slot, channel.
inline KORUHVNode *channel(KORUHVNode *root, int slot, int ch)
{
    return root->getChildren().at(slot)->getChildren().at(ch);
}
inline KORUHVNode *param(KORUHVNode *channel, const QString &name)
{
    for (KORUHVNode *p : channel->getParameters())
        if (p->getNodeName() == name)
            return p;
    return nullptr;
}

} // namespace gt

#endif
