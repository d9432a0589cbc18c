#include "KORUHVChannelAlarm.h"

#include "KORUHVNode.h"

void KORUHVSetChannelAlarm(KORUHVNode *status, const QVector<KORUHVNode *> &channelParameters, bool alarmed)
{
    if (!status)
        return;
    status->setIsAlarmed(alarmed);
    for (KORUHVNode *p : channelParameters)
        if (p)
            p->setIsAlarmed(alarmed);
}
