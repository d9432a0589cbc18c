// The node tree of an open system as the program's system controller builds
// it, level by level through KORUHVConfig: for the program's tests over the
// fake wrapper and over the simulators alike. The tests' own finishing of a
// parameter (names, display forms) goes in through a hook.
#pragma once

#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"

namespace koru_test {

struct TreeParts {
    bool systemProps = false; // the system's properties as its parameters
    bool boardParams = false; // each board's parameters
    bool properties = true;   // the parameters' properties (board and channel)
};

// Fills sys (prepared by the caller) with the slots of the open handle:
// boards and empty slots, the boards' channels and the channels'
// parameters, and what parts asks for besides. Each channel parameter
// passes through finish(parameter) before its channel takes it.
template <typename Finish>
void fillTree(KORUHVNode *sys, int handle, int sysType, TreeParts parts, Finish finish)
{
    if (parts.systemProps)
        for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateSystemProps(handle))
            sys->addParameter(p);
    for (KORUHVNode *slot : KORUHVConfig::KORUHVConfigCreateBoards(handle)) {
        sys->addChildNode(slot);
        if (slot->getNodeType() != NODE_BOARD)
            continue;
        const unsigned short s = slot->getBdSlotNr();
        if (parts.boardParams)
            for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateBoardParams(handle, s, sysType)) {
                if (parts.properties)
                    for (KORUHVNodeProperty *prop : KORUHVConfig::KORUHVConfigCreateBoardParameterProperties(
                             handle, p->getNodeName(), p->getParWrapperType(), s))
                        p->addProperty(prop);
                slot->addParameter(p);
            }
        for (KORUHVNode *ch : KORUHVConfig::KORUHVConfigCreateChannels(handle, s, slot->getBdChCount())) {
            slot->addChildNode(ch);
            for (KORUHVNode *p :
                 KORUHVConfig::KORUHVConfigCreateChannelParams(handle, sysType, s, ch->getChIdx())) {
                if (parts.properties)
                    for (KORUHVNodeProperty *prop :
                         KORUHVConfig::KORUHVConfigCreateChannelParameterProperties(
                             handle, p->getNodeName(), p->getParWrapperType(), s, ch->getChIdx()))
                        p->addProperty(prop);
                finish(p);
                ch->addParameter(p);
            }
        }
    }
}

inline void fillTree(KORUHVNode *sys, int handle, int sysType, TreeParts parts)
{
    fillTree(sys, handle, sysType, parts, [](KORUHVNode *) {});
}

} // namespace koru_test
