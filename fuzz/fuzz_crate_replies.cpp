// Crate replies: the system description of both generations, and every
// system property and parameter read of a first-generation crate whose
// answers are the input (a hostile crate on loopback, started once).
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "KORUHVWrapper.h"
#include "crate/crate_protocol.h"
#include "crate/crate_sysinfo.h"
#include "crate/crate_test_util.h"
#include "crate/crate_transport.h"
#include "crate/p8080_backend.h"
#include "crate_hx1100/framed_server.h"

using namespace koruhv;

namespace {

constexpr uint32_t kSession = 0x01020304;

std::string answer(const std::string &kw, const std::string &data)
{
    if (kw == "LOGIN")
        return kw + ":" + testdev::be16(0) + ":ok:" + testdev::be32(kSession);
    return kw + ":" + testdev::be32(kSession) + ":" + testdev::be16(0) + ":ok" +
           (data.empty() ? "" : ":" + data);
}

struct HostileCrate {
    std::string data; // the answer's data part of every request but the login
    testdev::FramedServer server;
    int handle = -1;
    HostileCrate()
        : server("127.0.0.91", false, [this](const std::string &req) -> std::optional<std::string> {
              const std::string kw = req.substr(0, req.find(':'));
              if (kw == "GETSYSINFO")
                  return answer(kw, cratetest::sampleSysInfo());
              return answer(kw, data);
          })
    {
        CrateTransport_SetPortForTest(server.port());
        KORUHV_InitSystem(1, 0, const_cast<char *>("127.0.0.91"), "u", "p", &handle);
    }
};

void parseDescriptions(const uint8_t *d, size_t n)
{
    CrateSystemInfo *info = nullptr;
    ByteCursor big(d, n);
    if (Crate_ParseSystemInfo(big, &info) == 0)
        delete info;
    info = nullptr;
    ByteCursor little(d, n, ByteOrder::Little);
    if (P8080_ParseSystemInfo(little, &info) == 0)
        delete info;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    if (n == 0)
        return 0;
    if (d[0] & 1) {
        parseDescriptions(d + 1, n - 1);
        return 0;
    }
    static HostileCrate *crate = new HostileCrate; // lives for the whole run
    if (crate->handle < 0)
        return 0;
    crate->data.assign(reinterpret_cast<const char *>(d + 1), n - 1);
    alignas(8) char out[4096];
    for (const PropertyRow *r = Crate_PropertyTable(0); r && std::strcmp(r->name, "Nothing") != 0; ++r)
        KORUHV_GetSysProp(crate->handle, r->name, out);
    unsigned short slots[] = {3}, channels[] = {0, 1, 2};
    KORUHV_GetBdParam(crate->handle, 1, slots, "Temp", out);
    KORUHV_GetChParam(crate->handle, 3, "V0Set", 3, channels, out);
    KORUHV_GetChParam(crate->handle, 3, "Status", 3, channels, out);
    char names[3][KORUHV_CHANNEL_NAME_SIZE];
    KORUHV_GetChName(crate->handle, 3, 3, channels, names);
    return 0;
}
