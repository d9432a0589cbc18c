// Stand-in of the outside communication library: 32 devices with a sparse
// register memory each; remembers the arguments of the last open.
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "KORUComm_stub.h"

#define STUB_API extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kDevices = 32;

struct Device {
    bool open = false;
    std::map<uint32_t, uint32_t> regs;
};

struct State {
    std::mutex m;
    Device dev[kDevices];
    int openCount = 0;
    int openResult = 0;
    bool haveLast = false;
    int lastConn = -1;
    char lastIp[128] = "";
    int lastLink = -1;
    int lastNode = -1;
    uint32_t lastBase = 0;
};

State &st()
{
    static State s;
    return s;
}

Device *device(int d)
{
    if (d < 0 || d >= kDevices || !st().dev[d].open)
        return nullptr;
    return &st().dev[d];
}

} // namespace

STUB_API int KORUComm_OpenDevice2(int connType, const char *ipText, int linkNumber, int node,
                                  uint32_t baseAddress, int *handle)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    ++s.openCount;
    s.haveLast = true;
    s.lastConn = connType;
    std::snprintf(s.lastIp, sizeof s.lastIp, "%s", ipText ? ipText : "");
    s.lastLink = linkNumber;
    s.lastNode = node;
    s.lastBase = baseAddress;
    if (!handle)
        return -1;
    *handle = -1;
    if (s.openResult != 0)
        return s.openResult;
    for (int i = 0; i < kDevices; ++i) {
        if (!s.dev[i].open) {
            s.dev[i].open = true;
            s.dev[i].regs.clear();
            *handle = i;
            return 0;
        }
    }
    return -1;
}

STUB_API int KORUComm_CloseDevice(int d)
{
    std::lock_guard<std::mutex> g(st().m);
    Device *dev = device(d);
    if (!dev)
        return -1;
    dev->open = false;
    return 0;
}

STUB_API int KORUComm_Read16(int d, uint32_t address, uint16_t *value)
{
    std::lock_guard<std::mutex> g(st().m);
    Device *dev = device(d);
    if (!dev || !value)
        return -1;
    *value = uint16_t(dev->regs[address]);
    return 0;
}

STUB_API int KORUComm_Write16(int d, uint32_t address, uint16_t value)
{
    std::lock_guard<std::mutex> g(st().m);
    Device *dev = device(d);
    if (!dev)
        return -1;
    dev->regs[address] = value;
    return 0;
}

STUB_API int KORUComm_Read32(int d, uint32_t address, uint32_t *value)
{
    std::lock_guard<std::mutex> g(st().m);
    Device *dev = device(d);
    if (!dev || !value)
        return -1;
    *value = dev->regs[address];
    return 0;
}

STUB_API int KORUComm_Write32(int d, uint32_t address, uint32_t value)
{
    std::lock_guard<std::mutex> g(st().m);
    Device *dev = device(d);
    if (!dev)
        return -1;
    dev->regs[address] = value;
    return 0;
}

STUB_API int KORUComm_MultiRead16(int d, int n, const uint32_t *addresses, uint16_t *values)
{
    std::lock_guard<std::mutex> g(st().m);
    Device *dev = device(d);
    if (!dev || n < 0 || (n && (!addresses || !values)))
        return -1;
    for (int i = 0; i < n; ++i)
        values[i] = uint16_t(dev->regs[addresses[i]]);
    return 0;
}

STUB_API int KORUComm_MultiRead32(int d, int n, const uint32_t *addresses, uint32_t *values)
{
    std::lock_guard<std::mutex> g(st().m);
    Device *dev = device(d);
    if (!dev || n < 0 || (n && (!addresses || !values)))
        return -1;
    for (int i = 0; i < n; ++i)
        values[i] = dev->regs[addresses[i]];
    return 0;
}

STUB_API void KORUCommStub_Reset(void)
{
    std::lock_guard<std::mutex> g(st().m);
    State &s = st();
    for (Device &d : s.dev) {
        d.open = false;
        d.regs.clear();
    }
    s.openCount = 0;
    s.openResult = 0;
    s.haveLast = false;
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
    for (const Device &d : st().dev)
        n += d.open ? 1 : 0;
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
    return KORUComm_Write16(d, address, value);
}
STUB_API int KORUCommStub_Peek16(int d, uint32_t address, uint16_t *value)
{
    return KORUComm_Read16(d, address, value);
}
STUB_API int KORUCommStub_Poke32(int d, uint32_t address, uint32_t value)
{
    return KORUComm_Write32(d, address, value);
}
STUB_API int KORUCommStub_Peek32(int d, uint32_t address, uint32_t *value)
{
    return KORUComm_Read32(d, address, value);
}
