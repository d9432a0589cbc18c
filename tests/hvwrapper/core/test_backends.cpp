#include "test_backends.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>

#include "backend_override.h"

using namespace koruhv;

namespace coretest {

World &world()
{
    static World w;
    return w;
}

void resetWorld()
{
    World &w = world();
    std::lock_guard<std::mutex> g(w.m);
    for (FamilyRecord &f : w.fam)
        f = FamilyRecord{};
    w.openDelayMs = 0;
    w.anyInstanceOpen = false;
    w.opResult = 0;
    w.opDelayMs = 0;
    w.inside = 0;
    w.maxInside = 0;
    w.calls = 0;
    w.lastItems.clear();
    w.lastItemCount = -1;
    w.lastBackendHandle = -100;
    w.lastSlotArg = -1;
    w.crateMapSlots = 4;
    w.crateWords = {4};
    w.slotWords = {0x10000 | 12, 0, 0x10000 | 24, 0x10000 | 6};
    w.errorText = "backend says hi";
    w.modelText = "A1515";
    w.eventCalls = 0;
    w.eventSlot = -1;
}

namespace {

void sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

template <int F>
int tInit(const char *link, const char *address, const char *user, const char *password, int *out)
{
    World &w = world();
    sleepMs(w.openDelayMs);
    std::lock_guard<std::mutex> g(w.m);
    FamilyRecord &f = w.fam[F];
    f.link = link ? link : "";
    f.address = address ? address : "";
    f.user = user ? user : "(null)";
    f.password = password ? password : "(null)";
    ++f.opens;
    *out = f.nextHandle;
    return f.initResult;
}

template <int F>
int tOpenDevice(int connType, const char *ipText, int linkNumber, int node, uint32_t base, void *)
{
    World &w = world();
    std::lock_guard<std::mutex> g(w.m);
    FamilyRecord &f = w.fam[F];
    ++f.opens;
    f.connType = connType;
    f.ip = ipText ? ipText : "";
    f.linkNumber = linkNumber;
    f.node = node;
    f.base = base;
    return f.initResult < 0 ? f.initResult : f.nextHandle;
}

template <int F> int tDeinit(const BackendRef &b)
{
    World &w = world();
    sleepMs(w.opDelayMs);
    std::lock_guard<std::mutex> g(w.m);
    FamilyRecord &f = w.fam[F];
    ++f.deinits;
    f.lastDeinitHandle = b.handle;
    f.lastDeinitLibrary = b.library;
    return f.deinitResult;
}

// Runs one standard operation: counts how many run at once.
int enter(const BackendRef &b)
{
    World &w = world();
    const int now = ++w.inside;
    int m = w.maxInside.load();
    while (now > m && !w.maxInside.compare_exchange_weak(m, now)) {
    }
    ++w.calls;
    {
        std::lock_guard<std::mutex> g(w.m);
        w.lastBackendHandle = b.handle;
    }
    sleepMs(w.opDelayMs);
    --w.inside;
    return w.opResult;
}

int tGetChParam(const BackendRef &b, uint16_t slot, const char *, uint16_t count, const uint16_t *,
                void *values)
{
    auto *f = static_cast<float *>(values);
    for (uint16_t i = 0; i < count; ++i)
        f[i] = 1.5f * float(i + 1);
    world().lastSlotArg = slot;
    return enter(b);
}

int tGetSysProp(const BackendRef &b, const char *, void *result)
{
    std::strcpy(static_cast<char *>(result), "ok");
    return enter(b);
}

int tGetChName(const BackendRef &b, uint16_t, uint16_t count, const uint16_t *,
               char (*names)[KORUHV_CHANNEL_NAME_SIZE])
{
    for (uint16_t i = 0; i < count; ++i)
        std::memset(names[i], 'N', KORUHV_CHANNEL_NAME_SIZE); // no terminator at all
    return enter(b);
}

int tSubscribe(const BackendRef &b, short, uint16_t count, const char *items, char *results)
{
    {
        std::lock_guard<std::mutex> g(world().m);
        world().lastItems = items;
        world().lastItemCount = count;
    }
    std::memset(results, 0, count);
    return enter(b);
}

int tGetCrateMap(const BackendRef &b, uint16_t *slotCount, char **models, char **descriptions,
                 uint32_t **serials, uint8_t **minors, uint8_t **majors)
{
    World &w = world();
    const uint16_t n = w.crateMapSlots;
    *slotCount = n;
    *models = static_cast<char *>(std::calloc(n + 1, 1));
    *descriptions = static_cast<char *>(std::calloc(n + 1, 1));
    *serials = static_cast<uint32_t *>(std::calloc(n + 1, sizeof(uint32_t)));
    *minors = static_cast<uint8_t *>(std::calloc(n + 1, 1));
    *majors = static_cast<uint8_t *>(std::calloc(n + 1, 1));
    return enter(b);
}

int tGetSysComp(const BackendRef &, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)
{
    World &w = world();
    *crateCount = uint8_t(w.crateWords.size());
    *crateWords = static_cast<uint16_t *>(std::malloc(w.crateWords.size() * sizeof(uint16_t) + 1));
    std::memcpy(*crateWords, w.crateWords.data(), w.crateWords.size() * sizeof(uint16_t));
    *slotWords = static_cast<uint32_t *>(std::malloc(w.slotWords.size() * sizeof(uint32_t) + 1));
    std::memcpy(*slotWords, w.slotWords.data(), w.slotWords.size() * sizeof(uint32_t));
    return 0;
}

int tTestBdPresence(const BackendRef &b, uint16_t, char *model, char *description, uint16_t *serial,
                    uint8_t *minor, uint8_t *major)
{
    // Writes the whole buffers, without a terminator.
    std::memset(model, 'M', KORUHV_BOARD_TEXT_SIZE);
    std::memset(description, 'D', KORUHV_BOARD_TEXT_SIZE);
    *serial = 77;
    *minor = 1;
    *major = 2;
    return enter(b);
}

const char *tGetError(const BackendRef &)
{
    return world().errorText.c_str();
}

int tGetEventData(const BackendRef &b, int, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events, int *count)
{
    world().eventSlot = b.slot;
    ++world().eventCalls;
    std::memset(status, 0, sizeof *status);
    *events = static_cast<EventRecord *>(std::calloc(1, sizeof(EventRecord)));
    *count = 0;
    return 0;
}

bool tAnyOpen()
{
    return world().anyInstanceOpen.load();
}

uint32_t flagsFor(int family)
{
    switch (family) {
    case 0:
    case 2:
        return BACKEND_DEINIT_RETURNS_CODE;
    case 16:
        return BACKEND_DEINIT_RETURNS_CODE | BACKEND_CRATE_MAP_ALL_CRATES;
    case 5:
        return BACKEND_LOCAL_EVENTS | BACKEND_REGISTER_LINK | BACKEND_DEINIT_ALWAYS;
    case 9:
        return BACKEND_LOCAL_EVENTS | BACKEND_REGISTER_LINK;
    default:
        return BACKEND_LOCAL_EVENTS;
    }
}

template <int F> void fillFamily(BackendOps &o)
{
    o.InitSystem = tInit<F>;
    o.OpenDevice = tOpenDevice<F>;
    o.DeinitSystem = tDeinit<F>;
}

void fillFamilyFns(int family, BackendOps &o)
{
    switch (family) {
    case 0:
        fillFamily<0>(o);
        break;
    case 2:
        fillFamily<2>(o);
        break;
    case 5:
        fillFamily<5>(o);
        break;
    case 6:
        fillFamily<6>(o);
        break;
    case 7:
        fillFamily<7>(o);
        break;
    case 8:
        fillFamily<8>(o);
        break;
    case 9:
        fillFamily<9>(o);
        break;
    case 10:
        fillFamily<10>(o);
        break;
    case 11:
        fillFamily<11>(o);
        break;
    case 12:
        fillFamily<12>(o);
        break;
    case 13:
        fillFamily<13>(o);
        break;
    case 14:
        fillFamily<14>(o);
        break;
    case 15:
        fillFamily<15>(o);
        break;
    case 16:
        fillFamily<16>(o);
        break;
    default:
        break;
    }
}

std::mutex g_keepM;
std::deque<BackendOps> g_keep; // tables stay alive for the process

} // namespace

BackendOps makeOps(int family, uint32_t requestLockOps)
{
    BackendOps o{};
    o.family = family;
    o.namePrefix = "TEST_";
    o.flags = flagsFor(family);
    o.requestLockOps = requestLockOps;
    fillFamilyFns(family, o);
    o.GetChParam = tGetChParam;
    o.GetSysProp = tGetSysProp;
    o.GetChName = tGetChName;
    o.Subscribe = tSubscribe;
    o.UnSubscribe = tSubscribe;
    o.GetCrateMap = tGetCrateMap;
    o.GetSysComp = tGetSysComp;
    o.TestBdPresence = tTestBdPresence;
    o.GetError = tGetError;
    if (family == 2 || family == 16)
        o.GetEventData = tGetEventData;
    if (o.flags & BACKEND_LOCAL_EVENTS)
        o.AnyInstanceOpen = tAnyOpen;
    return o;
}

void installFamily(int family, const BackendOps &ops)
{
    std::lock_guard<std::mutex> g(g_keepM);
    g_keep.push_back(ops);
    Backend_SetOverrideForTests(family, &g_keep.back());
}

void installAll(uint32_t requestLockOps)
{
    for (int f : kFamilyCodes)
        installFamily(f, makeOps(f, requestLockOps));
}

void removeAll()
{
    for (int f : kFamilyCodes)
        Backend_SetOverrideForTests(f, nullptr);
}

void closeAll()
{
    for (int h = 0; h < KORUHV_MAX_SYSTEMS; ++h)
        KORUHV_DeinitSystem(h);
}

} // namespace coretest
