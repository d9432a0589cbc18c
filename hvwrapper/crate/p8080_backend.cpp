// Family 16: contexts, login with the encrypted password, logout, crate map
// and system information of the rack supply, and the operations table.
#include "p8080_backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>

#include "crate_crypto.h"
#include "link.h"

namespace koruhv {

namespace {

CrateContext gContexts[kCrateContexts];
P8080Link gLinks[kCrateContexts];

std::atomic<uint16_t> gTestPort{0};
std::atomic<const char *> gTestKey{nullptr};

// The rack supply's public key (2048-bit RSA, SubjectPublicKeyInfo); the
// rack simulator holds its private half, so the shipped library logs in there.
const char kRackPublicKey[] = "-----BEGIN PUBLIC KEY-----\n"
                              "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEAr+vx2KXVVbEv59xDi90t\n"
                              "8kdCcxYetIoSXuw21GbelbsMs/gxFJh4i+dgg4/Bi/l5/rdS9Fh4mGPhyPOZT7qy\n"
                              "eEA3dLkthj5lWQjvpmHWveX8ksxreEO3QlpUfjPevxdCi4RXt36LfinKO+5QN2em\n"
                              "FkJ7/Rh7FyCGuHuiwk+wmeC6slmmIkXgu//XRUTD//mxxzmxpdl/k1EDjfA8p1eu\n"
                              "dYqm7DwYimX6MGM90TOMfVejJ7lGczexV22zam0Hprm9DK+QopfS66gK2yobEjUl\n"
                              "yZSG8aU2r3YpBX2QR5nEPAyAmzXVdrvBrkXsccPMZnzsVmLrcAfwonf0CUyOqFLo\n"
                              "5QIDAQAB\n"
                              "-----END PUBLIC KEY-----\n";

template <typename T> T *allocCopy(const T *src, size_t n)
{
    T *p = static_cast<T *>(std::calloc(n ? n : 1, sizeof(T)));
    if (p && n)
        std::memcpy(p, src, n * sizeof(T));
    return p;
}

void closeCommand(CrateContext &ctx)
{
    if (ctx.socket >= 0) {
        Tcp_Close(ctx.socket);
        ctx.socket = -1;
    }
    ctx.carry.reset();
}

void release(int idx)
{
    CrateContext &ctx = gContexts[idx];
    closeCommand(ctx);
    Crate_FreeSystemInfo(ctx);
    ctx.sessionId = 0;
    ctx.inUse = 0;
}

uint16_t port()
{
    return gTestPort.load() ? gTestPort.load() : kP8080Port;
}

int getCrateMapLocked(int h, uint16_t *slotCount, char **models, char **descriptions,
                      uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors)
{
    CrateContext &ctx = gContexts[h];
    if (!ctx.inUse || ctx.sessionId == 0)
        return -1;
    RequestBuffer req(ByteOrder::Little);
    if (!P8080_BeginRequest(req, "GETCRATEMAP", ctx.sessionId))
        return -1;
    uint8_t *reply = nullptr;
    size_t len = 0;
    int rc = P8080_Exchange(h, req, &reply, &len);
    if (rc)
        return rc;
    ByteCursor cur(nullptr, 0);
    rc = P8080_CheckReply(reply, len, "GETCRATEMAP", ctx.sessionId, false, &cur);
    std::string modelText, descText;
    std::vector<uint32_t> serials;
    std::vector<uint8_t> minors, majors;
    uint8_t s = 0;
    if (rc == 0) {
        s = cur.u8();
        serials.assign(s, 0);
        minors.assign(s, 0);
        majors.assign(s, 0);
        for (uint8_t i = 0; i < s && cur.ok(); ++i) {
            cur.skip(1); // separator
            std::string_view rest = cur.rest();
            if (!rest.empty() && rest[0] == '\0') {
                cur.skip(1);
                modelText.push_back('\0');
                descText.push_back('\0');
                continue;
            }
            std::string_view model, desc;
            cur.until(':', &model);
            cur.until(':', &desc);
            uint32_t serial = cur.u32();
            cur.expect(':');
            uint8_t major = cur.u8(), minor = cur.u8();
            modelText.append(model).push_back('\0');
            descText.append(desc).push_back('\0');
            serials[i] = serial;
            majors[i] = major;
            minors[i] = minor;
        }
        if (!cur.ok())
            rc = P8080_ERR_REPLY; // a map shorter than its slot count
    }
    std::free(reply);
    if (rc)
        return rc;
    char *m = allocCopy(modelText.data(), modelText.size());
    char *d = allocCopy(descText.data(), descText.size());
    uint32_t *sn = allocCopy(serials.data(), s);
    uint8_t *mi = allocCopy(minors.data(), s);
    uint8_t *ma = allocCopy(majors.data(), s);
    if (!m || !d || !sn || !mi || !ma) {
        std::free(m), std::free(d), std::free(sn), std::free(mi), std::free(ma);
        return P8080_ERR_MEMORY;
    }
    rc = P8080_GetSysInfo(h);
    if (rc) {
        std::free(m), std::free(d), std::free(sn), std::free(mi), std::free(ma);
        return rc;
    }
    *slotCount = s;
    *models = m;
    *descriptions = d;
    *serialNumbers = sn;
    *firmwareMinors = mi;
    *firmwareMajors = ma;
    return 0;
}

} // namespace

CrateContext *P8080_Contexts()
{
    return gContexts;
}

P8080Link *P8080_Links()
{
    return gLinks;
}

void P8080_SetPortForTest(uint16_t p)
{
    gTestPort = p;
}

void P8080_SetPublicKeyForTest(const char *pem)
{
    gTestKey = pem;
}

const char *P8080_PublicKey()
{
    const char *k = gTestKey.load();
    return k ? k : kRackPublicKey;
}

int P8080_InitSystem(const char *link, const char *address, const char *user, const char *password,
                     int *outHandle)
{
    if (outHandle)
        *outHandle = -1;
    if (!link || std::strcmp(link, "TCP/IP") != 0)
        return KORUHV_ERR_BAD_LINK;
    const int h = Crate_FirstFreeContext(gContexts);
    if (h >= kCrateContexts)
        return KORUHV_ERR_TABLE_FULL;
    CrateContext &ctx = gContexts[h];
    P8080Link &l = gLinks[h];
    closeCommand(ctx);
    P8080_CloseEventLink(l);
    Crate_FreeSystemInfo(ctx);
    l.outOfStep = false;
    ctx.inUse = 1; // claimed
    ctx.sessionId = 0;
    ctx.order = ByteOrder::Little;
    ctx.status = 0;
    ctx.message[0] = '\0';
    Crate_CopyText(ctx.linkText, sizeof ctx.linkText, link);
    P8080_ResetSubscriptionStore(h);
    l.itemCount = 0;

    int sock = -1;
    if (!address || Tcp_Connect(address, &sock, port()) != 0) {
        release(h);
        return -1;
    }
    ctx.socket = sock;

    const char *pw = password ? password : "";
    uint8_t *enc = nullptr;
    size_t encLen = 0;
    if (!Crate_EncryptPassword(P8080_PublicKey(), reinterpret_cast<const uint8_t *>(pw), std::strlen(pw),
                               &enc, &encLen)) {
        // The password cannot be carried (too long for the key): refused.
        release(h);
        return -2;
    }
    RequestBuffer req(ByteOrder::Little);
    bool built =
        req.text("LOGIN") && req.colon() && req.text(user ? user : "") && req.colon() && req.raw(enc, encLen);
    std::free(enc);
    if (!built) {
        release(h);
        return -1;
    }
    uint8_t *reply = nullptr;
    size_t len = 0;
    int rc = P8080_Exchange(h, req, &reply, &len);
    if (rc) {
        release(h);
        return rc;
    }
    ByteCursor cur(reply, len, ByteOrder::Little);
    std::string_view kw, message;
    bool good = cur.until(':', &kw) && kw == "LOGIN";
    int16_t status = cur.s16();
    cur.expect(':');
    good = good && cur.ok() && cur.until(':', &message);
    uint32_t session = cur.u32();
    std::free(reply);
    if (!good) {
        release(h);
        return P8080_ERR_REPLY;
    }
    if (status != 0) {
        release(h);
        return status == -12 ? -4 : status == -13 ? -5 : P8080_ERR_REPLY;
    }
    if (!cur.ok() || session == 0) {
        release(h); // no session to work with
        return P8080_ERR_REPLY;
    }
    ctx.sessionId = session;
    ctx.index = uint32_t(h);
    try {
        l.deviceAddress = address;
    } catch (...) {
        release(h);
        return -1;
    }
    uint16_t slots = 0;
    char *models = nullptr, *descs = nullptr;
    uint32_t *serials = nullptr;
    uint8_t *minors = nullptr, *majors = nullptr;
    std::lock_guard<std::mutex> g(l.opLock);
    rc = getCrateMapLocked(h, &slots, &models, &descs, &serials, &minors, &majors);
    std::free(models), std::free(descs), std::free(serials), std::free(minors), std::free(majors);
    if (rc) {
        release(h);
        return rc;
    }
    if (outHandle)
        *outHandle = h;
    return 0;
}

int P8080_DeinitSystem(const BackendRef &b)
{
    if (b.handle < 0 || b.handle >= kCrateContexts)
        return -1;
    const int h = b.handle;
    CrateContext &ctx = gContexts[h];
    P8080Link &l = gLinks[h];
    std::lock_guard<std::mutex> g(l.opLock);
    if (!ctx.inUse || ctx.sessionId == 0)
        return -1;
    int rc = 0;
    RequestBuffer req(ByteOrder::Little);
    if (!P8080_BeginRequest(req, "LOGOUT", ctx.sessionId)) {
        rc = -1;
    } else {
        uint8_t *reply = nullptr;
        size_t len = 0;
        rc = P8080_Exchange(h, req, &reply, &len);
        if (rc == 0) {
            ByteCursor cur(reply, len, ByteOrder::Little);
            std::string_view kw;
            if (!cur.until(':', &kw) || kw != "LOGOUT") {
                rc = P8080_ERR_REPLY;
            } else {
                cur.u32();
                int16_t status = cur.s16();
                rc = !cur.ok() ? P8080_ERR_REPLY : status != 0 ? P8080_ERR_LOGOUT : 0;
            }
        }
        std::free(reply);
    }
    // Whatever the logout gave: both connections closed once, the context
    // free, its store empty.
    P8080_CloseEventLink(l);
    l.itemCount = 0;
    release(h);
    P8080_ClearSubscriptionStore(h);
    P8080_ResetSubscriptionStore(h);
    return rc;
}

int P8080_GetCrateMap(const BackendRef &b, uint16_t *slotCount, char **models, char **descriptions,
                      uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors)
{
    if (b.handle < 0 || b.handle >= kCrateContexts)
        return -1;
    std::lock_guard<std::mutex> g(gLinks[b.handle].opLock);
    return getCrateMapLocked(b.handle, slotCount, models, descriptions, serialNumbers, firmwareMinors,
                             firmwareMajors);
}

int P8080_GetSysInfo(int h)
{
    if (h < 0 || h >= kCrateContexts)
        return -1;
    CrateContext &ctx = gContexts[h];
    if (!ctx.inUse || ctx.sessionId == 0)
        return -1;
    RequestBuffer req(ByteOrder::Little);
    if (!(P8080_BeginRequest(req, "GETSYSINFO", ctx.sessionId) && req.colon() && req.raw16(0)))
        return -1;
    uint8_t *reply = nullptr;
    size_t len = 0;
    int rc = P8080_Exchange(h, req, &reply, &len);
    if (rc)
        return rc;
    ByteCursor cur(nullptr, 0);
    rc = P8080_CheckReply(reply, len, "GETSYSINFO", ctx.sessionId, false, &cur);
    CrateSystemInfo *info = nullptr;
    if (rc == 0)
        rc = P8080_ParseSystemInfo(cur, &info);
    std::free(reply);
    if (rc)
        return rc;
    Crate_SetSystemInfo(ctx, info);
    return 0;
}

} // namespace koruhv
