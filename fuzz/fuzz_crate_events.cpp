// Event batches of the current-generation crates: header and body decoded
// against a prepared system description and subscription store.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "KORUHVWrapper.h"
#include "crate/crate_protocol.h"
#include "crate/crate_sysinfo.h"
#include "crate/event_sink.h"
#include "crate/hx4400_backend.h"
#include "hvwrapper/crate/crate_test_util.h"

using namespace koruhv;

namespace {

constexpr int kH = 3, kSys = 7;

uint32_t chId(unsigned board, unsigned ch, unsigned slot)
{
    return board << 24 | ch << 8 | slot;
}

bool prepare()
{
    CrateContext &ctx = HX4400_Contexts()[kH];
    ctx.inUse = 1;
    const std::string d = cratetest::sampleSysInfo();
    ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size());
    CrateSystemInfo *info = nullptr;
    if (Crate_ParseSystemInfo(cur, &info) != 0)
        return false;
    Crate_SetSystemInfo(ctx, info);
    HX4400_SubStore_Clear(kH);
    if (HX4400_SizeSubscriptionStore(BackendRef{kH, nullptr, kSys}, 3, 3) != 0)
        return false;
    for (uint16_t ch = 0; ch < 3; ++ch)
        HX4400_SubStore_PrepareChannel(kH, 3, ch);
    HX4400_SubStore_Add(kH, kSys, 0xFF000001u, "S.HVFanStat");
    HX4400_SubStore_Add(kH, kSys, 0xFF000000u, "S.SymbolicName");
    HX4400_SubStore_Add(kH, kSys, chId(3, 0xFFFF, 0), "S.Board003.Temp");
    HX4400_SubStore_Add(kH, kSys, chId(3, 0xFFFF, 1), "S.Board003.BdStatus");
    HX4400_SubStore_Add(kH, kSys, chId(3, 1, 0), "S.Board03.CHAN001.V0Set");
    HX4400_SubStore_Add(kH, kSys, chId(3, 0, 1), "S.Board03.CHAN000.Pw");
    HX4400_SubStore_Add(kH, kSys, chId(3, 2, 2), "S.Board03.CHAN002.Status");
    return true;
}

// The most records a batch may make: one per item that is not a crate
// message (each takes at least 8 bytes of the body), one per message kind,
// and the keep-alive record of a batch that made none.
size_t recordBound(const uint8_t *body, size_t len)
{
    size_t values = 0;
    for (size_t at = 0; len - at >= 8;) {
        const size_t vlen = size_t(body[at + 6]) << 8 | body[at + 7];
        if (len - at - 8 < vlen)
            break;
        values += body[at] != 254;
        at += 8 + vlen;
    }
    return values + 3;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    static const bool ready = prepare();
    if (!ready || n < kCrateEventHeaderSize)
        return 0;
    KORUHV_SYSTEMSTATUS_t status{};
    EventRecord *events = nullptr;
    int count = 0;
    EventRecordSink_ResetPeakForTest();
    const uint8_t *body = d + kCrateEventHeaderSize;
    const size_t len = n - kCrateEventHeaderSize;
    if (HX4400_DecodeEventBatch(kH, kSys, d, body, len, &status, &events, &count) == 0)
        KORUHV_FreeEventData(&events);
    // What a batch costs stays with what it carries: records and the array
    // holding them (grown by doubling from 16) within the bound.
    const size_t bound = recordBound(body, len);
    if (size_t(count) > bound || EventRecordSink_PeakBytesForTest() > (2 * bound + 16) * sizeof(EventRecord))
        std::abort();
    return 0;
}
