/* The alarm flag of a channel's table row, kept in the model: the channel's
 * status node and every parameter of the channel (the cells of its row)
 * carry it, set from the status word. Tables only paint what the flags say. */
#ifndef KORUHVCHANNELALARM_H
#define KORUHVCHANNELALARM_H

#include <QVector>

class KORUHVNode;

void KORUHVSetChannelAlarm(KORUHVNode *status, const QVector<KORUHVNode *> &channelParameters, bool alarmed);

#endif
