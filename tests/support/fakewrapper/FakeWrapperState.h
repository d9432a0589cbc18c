/* What the two halves of the fake wrapper share: the scripted systems, the
 * queued opens and events and the recorded calls, behind one lock. The
 * script side (FakeWrapper.cpp) fills it, the KORUHV_* functions
 * (FakeWrapperApi.cpp) answer from it. */
#ifndef FAKEWRAPPER_STATE_H
#define FAKEWRAPPER_STATE_H

#include "FakeWrapper.h"

#include <deque>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace fakehv::internal {

struct OpenSystem {
    System script;
    bool open = true;
};

struct EventBatch {
    std::vector<EventRecord> events;
    KORUHV_SYSTEMSTATUS_t status;
    int failure = 0; /* non-zero: the call fails with it */
};

struct State {
    std::recursive_mutex lock;
    std::vector<OpenSystem> systems;
    std::deque<std::pair<System, int>> pendingInits;
    std::map<int, std::deque<EventBatch>> events;
    std::vector<Call> calls;
};

State &state();

} // namespace fakehv::internal

#endif
