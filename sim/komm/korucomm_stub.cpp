// Stand-in of the outside communication library: 32 handles onto devices at
// places (connection type, link or IP text, node, VME base). Declared places
// hold a device model that keeps its state across opens; any other place
// opens onto a plain register memory. One lock makes concurrent calls on one
// handle safe, as the real library allows them.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KORUComm_stub.h"
#include "komm_models.h"

#define STUB_API extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kHandles = 32;
constexpr uint32_t kAny = 0xFFFFFFFFu;

struct Place {
    int connType = -1;
    std::string ip;
    int link = -1, node = -1;
    uint32_t base = 0;
    int model = KORUCOMM_MODEL_MEMORY;
    std::shared_ptr<komm::RegisterModel> device;
    int reads = 0;
    std::vector<std::pair<uint32_t, int>> writes; // address, count
};

struct Handle {
    bool open = false;
    int place = -1; // -1: private memory
    std::shared_ptr<komm::RegisterModel> device;
};

struct Fault {
    int place = -1;
    uint32_t address = kAny;
    int count = 0;
};

struct State {
    std::mutex m;
    Handle handles[kHandles];
    std::vector<Place> places;
    int openCount = 0;
    int openResult = 0;
    bool haveLast = false;
    int lastConn = -1;
    char lastIp[128] = "";
    int lastLink = -1, lastNode = -1;
    uint32_t lastBase = 0;
    Fault failRead, failWrite;
    double timeScale = 1.0;
    double modelTime = 0;
    std::chrono::steady_clock::time_point lastClock = std::chrono::steady_clock::now();
};

State &st()
{
    static State s;
    return s;
}

// Model time in seconds; runs timeScale times faster than the clock.
double now(State &s)
{
    const auto t = std::chrono::steady_clock::now();
    s.modelTime += std::chrono::duration<double>(t - s.lastClock).count() * s.timeScale;
    s.lastClock = t;
    return s.modelTime;
}

Handle *handle(State &s, int h)
{
    if (h < 0 || h >= kHandles || !s.handles[h].open)
        return nullptr;
    return &s.handles[h];
}

bool samePlace(const Place &p, int connType, const std::string &ip, int link, int node, uint32_t base)
{
    if (p.connType != connType || p.node != node || p.base != base)
        return false;
    return connType == 6 ? p.ip == ip : p.link == link;
}

// Consumes one failure of a fault that matches the access.
bool fails(Fault &f, int place, uint32_t address)
{
    if (f.count == 0)
        return false;
    if (f.place >= 0 && f.place != place)
        return false;
    if (f.address != kAny && f.address != address)
        return false;
    if (f.count > 0)
        --f.count;
    return true;
}

void countRead(State &s, const Handle &h)
{
    if (h.place >= 0)
        ++s.places[size_t(h.place)].reads;
}

void countWrite(State &s, const Handle &h, uint32_t address)
{
    if (h.place < 0)
        return;
    for (auto &w : s.places[size_t(h.place)].writes)
        if (w.first == address) {
            ++w.second;
            return;
        }
    s.places[size_t(h.place)].writes.emplace_back(address, 1);
}

} // namespace

STUB_API int KORUComm_OpenDevice2(int connType, const void *linkArg, int node, uint32_t baseAddress, int *out)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    ++s.openCount;
    s.haveLast = true;
    s.lastConn = connType;
    s.lastIp[0] = '\0';
    s.lastLink = -1;
    if (connType == 6 && linkArg) {
        // The IP text is read within a bound: the caller's buffer is its own.
        std::snprintf(s.lastIp, sizeof s.lastIp, "%.*s", int(sizeof s.lastIp - 1),
                      static_cast<const char *>(linkArg));
        s.lastLink = 0;
    } else if (linkArg) {
        std::memcpy(&s.lastLink, linkArg, sizeof s.lastLink);
    }
    s.lastNode = node;
    s.lastBase = baseAddress;
    if (!out)
        return -1;
    *out = -1;
    if (!linkArg)
        return -1;
    if (s.openResult != 0)
        return s.openResult;

    int place = -1;
    for (size_t i = 0; i < s.places.size(); ++i)
        if (samePlace(s.places[i], connType, s.lastIp, s.lastLink, node, baseAddress))
            place = int(i);
    if (place >= 0 && s.places[size_t(place)].model == KORUCOMM_MODEL_ABSENT)
        return -1;
    for (int i = 0; i < kHandles; ++i) {
        Handle &h = s.handles[i];
        if (h.open)
            continue;
        h.open = true;
        h.place = place;
        h.device = place >= 0 ? s.places[size_t(place)].device : std::make_shared<komm::MemoryModel>();
        *out = i;
        return 0;
    }
    return -1;
}

STUB_API int KORUComm_CloseDevice(int d)
{
    std::lock_guard<std::mutex> g(st().m);
    Handle *h = handle(st(), d);
    if (!h)
        return -1;
    *h = Handle{};
    return 0;
}

STUB_API int KORUComm_Read16(int d, uint32_t address, uint16_t *value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    if (!h || !value)
        return -1;
    countRead(s, *h);
    if (fails(s.failRead, h->place, address) || !h->device->read16(now(s), address, value))
        return -2;
    return 0;
}

STUB_API int KORUComm_Write16(int d, uint32_t address, uint16_t value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    if (!h)
        return -1;
    countWrite(s, *h, address);
    if (fails(s.failWrite, h->place, address) || !h->device->write16(now(s), address, value))
        return -2;
    return 0;
}

STUB_API int KORUComm_Read32(int d, uint32_t address, uint32_t *value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    if (!h || !value)
        return -1;
    countRead(s, *h);
    if (fails(s.failRead, h->place, address) || !h->device->read32(now(s), address, value))
        return -2;
    return 0;
}

STUB_API int KORUComm_Write32(int d, uint32_t address, uint32_t value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    if (!h)
        return -1;
    countWrite(s, *h, address);
    if (fails(s.failWrite, h->place, address) || !h->device->write32(now(s), address, value))
        return -2;
    return 0;
}

STUB_API int KORUComm_MultiRead16(int d, const uint32_t *addresses, int n, uint16_t *values, int *errors)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    if (!h || n < 0 || (n && (!addresses || !values || !errors)))
        return -1;
    countRead(s, *h);
    const double t = now(s);
    int rc = 0;
    for (int i = 0; i < n; ++i) {
        errors[i] = 0;
        if (fails(s.failRead, h->place, addresses[i]) || !h->device->read16(t, addresses[i], &values[i])) {
            errors[i] = -2;
            values[i] = 0;
            rc = -2;
        }
    }
    return rc;
}

STUB_API int KORUComm_MultiRead32(int d, int n, const uint32_t *addresses, uint32_t *values)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    if (!h || n < 0 || (n && (!addresses || !values)))
        return -1;
    countRead(s, *h);
    const double t = now(s);
    for (int i = 0; i < n; ++i)
        if (fails(s.failRead, h->place, addresses[i]) || !h->device->read32(t, addresses[i], &values[i]))
            return -2;
    return 0;
}

// ---- Test knobs ----------------------------------------------------------------------------------

STUB_API void KORUCommStub_Reset(void)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    for (Handle &h : s.handles)
        h = Handle{};
    s.places.clear();
    s.openCount = 0;
    s.openResult = 0;
    s.haveLast = false;
    s.failRead = Fault{};
    s.failWrite = Fault{};
    s.timeScale = 1.0;
}

STUB_API int KORUCommStub_OpenCount(void)
{
    std::lock_guard<std::mutex> g(st().m);
    return st().openCount;
}

STUB_API int KORUCommStub_OpenDevices(void)
{
    std::lock_guard<std::mutex> g(st().m);
    int n = 0;
    for (const Handle &h : st().handles)
        n += h.open ? 1 : 0;
    return n;
}

STUB_API int KORUCommStub_LastOpen(int *connType, char *ip, size_t ipCap, int *linkNumber, int *node,
                                   uint32_t *baseAddress)
{
    std::lock_guard<std::mutex> g(st().m);
    const State &s = st();
    if (!s.haveLast)
        return -1;
    if (connType)
        *connType = s.lastConn;
    if (ip && ipCap)
        std::snprintf(ip, ipCap, "%s", s.lastIp);
    if (linkNumber)
        *linkNumber = s.lastLink;
    if (node)
        *node = s.lastNode;
    if (baseAddress)
        *baseAddress = s.lastBase;
    return 0;
}

STUB_API void KORUCommStub_SetOpenResult(int rc)
{
    std::lock_guard<std::mutex> g(st().m);
    st().openResult = rc;
}

STUB_API int KORUCommStub_Poke16(int d, uint32_t address, uint16_t value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    return h && h->device->poke16(now(s), address, value) ? 0 : -1;
}

STUB_API int KORUCommStub_Peek16(int d, uint32_t address, uint16_t *value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    return h && value && h->device->peek16(now(s), address, value) ? 0 : -1;
}

STUB_API int KORUCommStub_Poke32(int d, uint32_t address, uint32_t value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    return h && h->device->write32(now(s), address, value) ? 0 : -1;
}

STUB_API int KORUCommStub_Peek32(int d, uint32_t address, uint32_t *value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    Handle *h = handle(s, d);
    return h && value && h->device->read32(now(s), address, value) ? 0 : -1;
}

STUB_API int KORUCommStub_AttachDevice(int connType, const char *ip, int link, int node, uint32_t base,
                                       int model, int channels)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    const std::string ipText = connType == 6 && ip ? std::string(ip, strnlen(ip, 127)) : std::string();
    if (connType == 6)
        link = 0;
    Place p;
    p.connType = connType;
    p.ip = ipText;
    p.link = link;
    p.node = node;
    p.base = base;
    p.model = model;
    switch (model) {
    case KORUCOMM_MODEL_MEMORY:
        p.device = std::make_shared<komm::MemoryModel>();
        break;
    case KORUCOMM_MODEL_W38XX:
        p.device = komm::MakeW38xxBoard(channels, now(s));
        break;
    case KORUCOMM_MODEL_BQ71XX:
        p.device = komm::MakeBq71xxUnit(now(s));
        break;
    case KORUCOMM_MODEL_ABSENT:
        p.device = std::make_shared<komm::MemoryModel>();
        break;
    default:
        return -1;
    }
    for (size_t i = 0; i < s.places.size(); ++i)
        if (samePlace(s.places[i], connType, ipText, link, node, base)) {
            s.places[i] = p;
            return int(i);
        }
    s.places.push_back(p);
    return int(s.places.size() - 1);
}

STUB_API int KORUCommStub_PlacePoke16(int place, uint32_t address, uint16_t value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    if (place < 0 || size_t(place) >= s.places.size())
        return -1;
    return s.places[size_t(place)].device->poke16(now(s), address, value) ? 0 : -1;
}

STUB_API int KORUCommStub_PlacePeek16(int place, uint32_t address, uint16_t *value)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    if (place < 0 || size_t(place) >= s.places.size() || !value)
        return -1;
    return s.places[size_t(place)].device->peek16(now(s), address, value) ? 0 : -1;
}

STUB_API void KORUCommStub_FailReads(int place, uint32_t address, int count)
{
    std::lock_guard<std::mutex> g(st().m);
    st().failRead = Fault{place, address, count};
}

STUB_API void KORUCommStub_FailWrites(int place, uint32_t address, int count)
{
    std::lock_guard<std::mutex> g(st().m);
    st().failWrite = Fault{place, address, count};
}

STUB_API int KORUCommStub_ReadCount(int place)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    return place >= 0 && size_t(place) < s.places.size() ? s.places[size_t(place)].reads : -1;
}

STUB_API int KORUCommStub_WriteCount(int place, uint32_t address)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    if (place < 0 || size_t(place) >= s.places.size())
        return -1;
    int n = 0;
    for (const auto &w : s.places[size_t(place)].writes)
        if (address == kAny || w.first == address)
            n += w.second;
    return n;
}

STUB_API void KORUCommStub_SetTimeScale(double factor)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    now(s);
    s.timeScale = factor > 0 ? factor : 1.0;
}
