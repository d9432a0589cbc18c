// Rack-supply frames: a reply checked against its keyword and session, and
// an event batch decoded against a prepared description and store.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "KORUHVWrapper.h"
#include "crate/crate_protocol.h"
#include "crate/crate_sysinfo.h"
#include "crate/event_sink.h"
#include "crate/p8080_backend.h"

using namespace koruhv;

namespace {

constexpr int kH = 31, kSys = 5;

std::string le16(uint16_t v)
{
    return std::string{char(v), char(v >> 8)};
}
std::string le32(uint32_t v)
{
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string numeric(const std::string &name, int8_t type, bool isSigned, uint32_t decimals, uint32_t factor)
{
    return name + ":" + std::string{char(type), 1, char(isSigned)} + le32(0) + le32(1000) + le32(decimals) +
           le32(factor) + std::string(1, '\x05') + le16(3);
}

// Boards 3 (two channels of VSet, Pw, VStep; board Temp, BdStat) and 150
// (Temp, Label), as the rack describes them.
std::string rackDescription()
{
    std::string d = le16(6) + ":";
    d += numeric("VSet", 0, true, 1, 10);
    d += "Pw:" + std::string{1, 1, 0} + "On:Off:";
    d += numeric("Temp", 4, false, 1, 10);
    d += numeric("Label", 0, false, 0, 0);
    d += numeric("VStep", 0, false, 0, 5);
    d += numeric("BdStat", 3, false, 0, 0);
    d += ":" + le16(2) + ":" + std::string{3, 0} + std::string{0, 6} + ":" + le16(2) + le16(0) + ":";
    d += le16(2) + le16(2) + le16(5) + ":";
    d += le16(3) + le16(0) + le16(1) + le16(4);
    d += le16(3) + le16(0) + le16(1) + le16(4);
    d += le16(2) + le16(2) + le16(3) + ":";
    return d;
}

uint32_t id(unsigned board, unsigned ch, unsigned slot)
{
    return board << 24 | ch << 8 | slot;
}

bool prepare()
{
    CrateContext &ctx = P8080_Contexts()[kH];
    ctx.inUse = 1;
    const std::string d = rackDescription();
    ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size(), ByteOrder::Little);
    CrateSystemInfo *info = nullptr;
    if (P8080_ParseSystemInfo(cur, &info) != 0)
        return false;
    Crate_SetSystemInfo(ctx, info);
    P8080_ResetSubscriptionStore(kH);
    if (P8080_SizeSubscriptionStore(BackendRef{kH, nullptr, kSys}, 3, 2) != 0)
        return false;
    for (int ch = 0; ch < 2; ++ch)
        P8080_PrepareChannelStore(kH, 3, 2, ch, 3);
    P8080_StoreSubscription(kH, kSys, id(3, 0, 0), "S.Board03.CHAN000.VSet");
    P8080_StoreSubscription(kH, kSys, id(3, 1, 1), "S.Board03.CHAN001.Pw");
    P8080_StoreSubscription(kH, kSys, id(3, 0xFFFF, 0), "S.Board03.Temp");
    P8080_StoreSubscription(kH, kSys, id(150, 0, 2), "S.Temp");
    P8080_StoreSubscription(kH, kSys, id(150, 0, 3), "S.Label");
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    static const bool ready = prepare();
    if (!ready || n == 0)
        return 0;
    if (d[0] & 1) {
        ByteCursor data(nullptr, 0);
        P8080_CheckReply(d + 1, n - 1, "GETBDPARAM", 0x01020304, d[0] & 2, &data);
        return 0;
    }
    EventRecord *events = nullptr;
    int count = 0;
    bool keepAlive = false;
    EventRecordSink_ResetPeakForTest();
    if (P8080_DecodeEventBatch(kH, d + 1, n - 1, &events, &count, &keepAlive) == 0)
        KORUHV_FreeEventData(&events);
    // Every record but the three rack messages' takes an item of at least
    // five bytes (an id and a word, or an id and a '#'): what a batch costs
    // stays with what it carries, the array grown by doubling from 16.
    const size_t bound = (n - 1) / 5 + 3;
    if (size_t(count) > bound || EventRecordSink_PeakBytesForTest() > (2 * bound + 16) * sizeof(EventRecord))
        std::abort();
    return 0;
}
