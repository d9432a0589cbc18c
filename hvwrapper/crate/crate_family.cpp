// Opening and closing a system of a crate-protocol family: the login and
// the context's life are the same in both generations but for the login
// keyword, the code of a refused login, the address form and the
// subscription bookkeeping (CrateFamily).
#include <cstring>

#include "crate_ops.h"

namespace koruhv {

namespace {

void release(CrateContext &ctx)
{
    Crate_CloseContext(ctx);
    Crate_FreeSystemInfo(ctx);
    ctx.sessionId = 0;
    ctx.inUse = 0;
}

} // namespace

int CrateFamily_Open(const CrateFamily &f, const char *link, const char *address, const char *user,
                     const char *password, int *outHandle)
{
    if (outHandle)
        *outHandle = -1;
    const char *colon = f.addressPrefix && address ? std::strchr(address, ':') : nullptr;
    const char *ip = colon ? colon + 1 : address;
    int idx = Crate_FirstFreeContext(f.contexts);
    if (idx >= kCrateContexts)
        return -1;
    CrateContext &ctx = f.contexts[idx];
    Crate_CloseContext(ctx);
    Crate_FreeSystemInfo(ctx);
    ctx.command = nullptr;
    ctx.sessionId = 0;
    ctx.status = 0;
    ctx.message[0] = '\0';
    ctx.dataOffset = 0;
    ctx.order = ByteOrder::Big;
    ctx.inUse = 1; // claimed: a concurrent login never takes it
    f.clearSubscriptions(idx);
    if (Crate_OpenContext(ctx, link, ip) != 0) {
        release(ctx);
        return -1;
    }
    RequestBuffer args(ctx.order);
    if (!(args.text(user ? user : "") && args.colon() && args.text(password ? password : ""))) {
        release(ctx);
        return -1;
    }
    CrateReply reply;
    if (Crate_Request(ctx, f.loginKeyword, &args, &reply) != 0) {
        release(ctx);
        return f.loginRefused;
    }
    ByteCursor cur = reply.data(ctx.order);
    uint32_t session = cur.u32();
    if (!cur.ok()) {
        Crate_Malformed(ctx);
        release(ctx);
        return -1;
    }
    ctx.sessionId = session;
    ctx.index = uint32_t(idx);
    if (CrateOp_GetSysInfo(ctx) != 0) {
        release(ctx); // no logout for a crate that gave no description
        return -1;
    }
    if (outHandle)
        *outHandle = idx;
    return 0;
}

int CrateFamily_Close(const CrateFamily &f, CrateContext &ctx, int handle)
{
    int rc = CrateOp_Logout(ctx);
    f.clearSubscriptions(handle);
    release(ctx);
    return rc;
}

const char *CrateFamily_Error(const CrateFamily &f, int handle)
{
    if (handle < 0 || handle >= kCrateContexts)
        return "";
    return f.contexts[handle].message;
}

} // namespace koruhv
