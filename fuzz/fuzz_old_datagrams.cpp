// First-generation event datagrams, decoded against a subscription list of
// channel, unknown, system and keep-alive items.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "KORUHVWrapper.h"
#include "crate/crate_protocol.h"
#include "crate/crate_sysinfo.h"
#include "crate/hx1100_backend.h"
#include "hvwrapper/crate/crate_test_util.h"

using namespace koruhv;

namespace {

constexpr int kH = 2;

bool prepare()
{
    CrateContext &ctx = HX1100_Contexts()[kH];
    ctx.inUse = 1;
    const std::string d = cratetest::sampleSysInfo();
    ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size());
    CrateSystemInfo *info = nullptr;
    if (Crate_ParseSystemInfo(cur, &info) != 0)
        return false;
    Crate_SetSystemInfo(ctx, info);
    HX1100_SubList_Clear(kH);
    const char *items[] = {"S.Board03.CHAN000.V0Set", "S.Board03.CHAN000.Nope", "S.HvPwSM",  "S.KeepAlive",
                           "S.SymbolicName",          "S.Board03.Temp",         "S.FanStat", "S.Sessions"};
    int id = 1;
    for (const char *i : items)
        HX1100_SubList_Add(kH, id++, i);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    static const bool ready = prepare();
    if (!ready)
        return 0;
    OldEventRecord *events = nullptr;
    int count = 0;
    if (HX1100_DecodeDatagram(kH, d, n, &events, &count) == 0)
        KORUHVFreeEventData(&events);
    // Each record comes from an item of at least 14 bytes of the datagram
    // (a single-item datagram makes one).
    if (size_t(count) > 1 + n / 14)
        std::abort();
    return 0;
}
