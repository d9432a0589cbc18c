// KORUHV_InitSystem and KORUHV_DeinitSystem.
#include "sys_open.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "item_name.h"
#include "sys_table.h"

namespace koruhv {

namespace {

struct TypeEntry {
    int family;
    const char *prefix;
};

TypeEntry typeEntry(int systemType)
{
    switch (systemType) {
    case 0:
    case 1:
        return {0, "KORU_HX1100_HVW_"};
    case 2:
    case 3:
        return {2, "KORU_HX4400_HVW_"};
    case 5:
        return {5, "KORU_W38XX_HVW_"};
    case 6:
        return {6, "KORU_L2290_HVW_"};
    case 7:
        return {7, "KORU_W9300_HVW_"};
    case 8:
        return {8, "KORU_L317E_HVW_"};
    case 9:
        return {9, "KORU_BQ71XX_HVW_"};
    case 10:
        return {10, "KORU_ZJV_HVW_"};
    case 11:
        return {11, "KORU_BQ71XXE_HVW_"};
    case 12:
        return {12, "KORU_L5026_HVW_"};
    case 14:
        return {14, "KORU_ZORN_HVW_"};
    case 15:
        return {15, "KORU_L5126_HVW_"};
    case 16:
        return {16, "KORU_P8080_HVW_"};
    default:
        return {13, "KORU_TRIXHV_HVW_"};
    }
}

bool isModuleFamily(int f)
{
    switch (f) {
    case 6:
    case 7:
    case 8:
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
        return true;
    default:
        return false;
    }
}

bool isRegisterFamily(int f)
{
    return f == 5 || f == 9;
}

int commConnType(const char *keyword)
{
    static const struct {
        const char *k;
        int t;
    } kTypes[] = {{"USB", 0}, {"OPTLINK", 1}, {"J6280", 2}, {"TCP/IP", 6}, {"USB3", 7}};
    for (const auto &e : kTypes)
        if (std::strcmp(keyword, e.k) == 0)
            return e.t;
    return -1;
}

int mapOpenResult(int rc)
{
    if (rc == -2 || rc == -4)
        return KORUHV_ERR_LOGIN_REFUSED;
    if (rc == -1 || rc == -5)
        return KORUHV_ERR_OPEN_FAILED;
    return rc;
}

void clearSlotTexts(SystemSlot &s)
{
    Sys_LockNames();
    std::memset(s.name, 0, sizeof s.name);
    std::memset(s.address, 0, sizeof s.address);
    Sys_UnlockNames();
}

} // namespace

const char *Sys_LinkKeyword(int linkType)
{
    switch (linkType) {
    case 0:
        return "TCP/IP";
    case 3:
        return "USB";
    case 4:
        return "OPTLINK";
    case 5:
        return "USBVCP";
    case 6:
        return "USB3";
    case 7:
        return "J6280";
    default:
        return nullptr;
    }
}

int Sys_SelectFamily(int systemType, int linkType, const char *backendAddress)
{
    const int f = typeEntry(systemType).family;
    switch (linkType) {
    case 0:
        if (isModuleFamily(f) || f == 5 || f == 16)
            return f;
        // Every other name is a crate; the second generation is told by the
        // "HX4400:" prefix of its backend address.
        return std::strchr(backendAddress, ':') ? 2 : 0;
    case 3:
    case 4:
    case 6:
    case 7:
        // Register links reach only the register-mapped families: another
        // system type there would be served by a backend that never opened.
        return isRegisterFamily(f) ? f : -KORUHV_ERR_BAD_LINK;
    case 5:
        return isModuleFamily(f) ? f : -KORUHV_ERR_BAD_ARGUMENT;
    default:
        return -KORUHV_ERR_BAD_LINK;
    }
}

int OpenCommLibDevice(const BackendOps &ops, const char *linkKeyword, const char *address, void **library)
{
    *library = nullptr;
    void *lib = dlopen(kCommLibName, RTLD_LAZY);
    if (!lib)
        return -1;
    *library = lib;
    if (!dlsym(lib, kCommLibOpenEntry))
        return -1;
    const int connType = commConnType(linkKeyword);
    if (connType < 0 || !ops.OpenDevice)
        return -1;
    const bool tcp = connType == 6;

    char copy[kSlotTextSize];
    std::snprintf(copy, sizeof copy, "%s", address);
    char ip[kSlotTextSize] = "";
    int link = -1;
    int node = -1;
    unsigned base = 0;
    char *cursor = nullptr;
    if (char *f = NextToken(copy, "_", &cursor)) {
        if (tcp)
            std::snprintf(ip, sizeof ip, "%s", f);
        else if (std::sscanf(f, "%d", &link) != 1)
            link = -1;
    }
    if (char *f = NextToken(nullptr, "_", &cursor)) {
        unsigned v = 0;
        if (std::sscanf(f, "%x", &v) == 1 && v <= 0x7fffffffu)
            node = static_cast<int>(v);
    }
    if (char *f = NextToken(nullptr, "_", &cursor)) {
        if (std::sscanf(f, "%x", &base) != 1)
            base = 0;
    }
    if (tcp) {
        link = 0;
        if (!ip[0])
            return -1;
    }
    if (connType == 2)
        node = 0;
    if (link < 0 || node < 0)
        return -1;
    return ops.OpenDevice(connType, tcp ? ip : nullptr, link, node, base, lib);
}

int Sys_OpenBackend(int slotIndex, int family, int linkType, const char *backendAddress, const char *user,
                    const char *password)
{
    SystemSlot *s = Sys_Slot(slotIndex);
    const BackendOps *ops = Backend_ForFamily(family);
    const char *keyword = Sys_LinkKeyword(linkType);
    if (!s || !keyword)
        return KORUHV_ERR_BAD_LINK;
    if (!ops)
        return KORUHV_ERR_OPEN_FAILED;

    if (isRegisterFamily(family) || (ops->flags & BACKEND_REGISTER_LINK)) {
        void *lib = nullptr;
        const int rc = OpenCommLibDevice(*ops, keyword, backendAddress, &lib);
        if (rc < 0) {
            if (lib)
                dlclose(lib);
            return mapOpenResult(rc);
        }
        s->backendHandle = rc;
        s->libraryHandle = lib;
        return KORUHV_OK;
    }

    if (!ops->InitSystem)
        return KORUHV_ERR_OPEN_FAILED;
    int h = -1;
    const int rc = ops->InitSystem(keyword, backendAddress, user, password, &h);
    if (rc != 0)
        return rc < 0 ? mapOpenResult(rc) : rc;
    s->backendHandle = h;
    s->libraryHandle = nullptr;
    return KORUHV_OK;
}

} // namespace koruhv

using namespace koruhv;

extern "C" int KORUHV_InitSystem(int systemType, int linkType, void *address, const char *user,
                                 const char *password, int *handle)
{
    if (!handle)
        return KORUHV_ERR_BAD_ARGUMENT;
    *handle = -1;
    const char *addr = static_cast<const char *>(address);
    const size_t maxLen = (systemType == 2 || systemType == 3) ? 72 : kSlotTextSize - 1;
    if (!addr || strnlen(addr, maxLen + 1) > maxLen)
        return KORUHV_ERR_BAD_ARGUMENT;
    Sys_EnsureInit();

    char backendAddress[kSlotTextSize + 8];
    if (systemType == 2 || systemType == 3)
        std::snprintf(backendAddress, sizeof backendAddress, "HX4400:%s", addr);
    else
        std::snprintf(backendAddress, sizeof backendAddress, "%s", addr);
    // A link or family that does not meet is reported after the search for
    // a free slot (a full table answers 25 first).
    const int family = Sys_LinkKeyword(linkType) ? Sys_SelectFamily(systemType, linkType, backendAddress)
                                                 : -KORUHV_ERR_BAD_LINK;
    // The crate selection hands the second generation its address without
    // the prefix.
    const char *seen = backendAddress;
    if (family == 2)
        if (const char *colon = std::strchr(backendAddress, ':'))
            seen = colon + 1;

    // The duplicate test and the claim run under the table lock, and the
    // identifying fields are written before the backend opens, so two opens
    // of one system cannot both pass.
    TicketLock_Acquire(&Sys_TableLock);
    int freeIdx = -1;
    for (int i = 0; i < kMaxSystems; ++i) {
        SystemSlot &s = *Sys_Slot(i);
        if (s.inUse.load()) {
            if (family >= 0 && s.family == family && s.linkType == linkType &&
                std::strcmp(s.address, addr) == 0) {
                TicketLock_Release(&Sys_TableLock);
                return KORUHV_ERR_ALREADY_OPEN;
            }
        } else if (freeIdx < 0) {
            freeIdx = i;
        }
    }
    if (freeIdx < 0) {
        TicketLock_Release(&Sys_TableLock);
        return KORUHV_ERR_TABLE_FULL;
    }
    if (family < 0) {
        TicketLock_Release(&Sys_TableLock);
        return -family;
    }
    SystemSlot &s = *Sys_Slot(freeIdx);
    s.inUse.store(1);
    s.family = family;
    s.linkType = linkType;
    s.backendHandle = -1;
    s.libraryHandle = nullptr;
    Sys_LockNames();
    std::snprintf(s.name, sizeof s.name, "%s%03d", typeEntry(systemType).prefix, freeIdx);
    std::snprintf(s.address, sizeof s.address, "%s", addr);
    Sys_UnlockNames();

    const int rc =
        Sys_OpenBackend(freeIdx, family, linkType, seen, user ? user : "", password ? password : "");
    if (rc != 0) {
        clearSlotTexts(s);
        s.family = 0;
        s.linkType = 0;
        s.backendHandle = -1;
        s.libraryHandle = nullptr;
        s.inUse.store(0);
        TicketLock_Release(&Sys_TableLock);
        return rc;
    }
    s.open.store(1, std::memory_order_release);
    TicketLock_Release(&Sys_TableLock);
    *handle = freeIdx;
    return KORUHV_OK;
}

extern "C" int KORUHV_DeinitSystem(int handle)
{
    SystemSlot *s = Sys_Slot(handle);
    if (!s)
        return KORUHV_ERR_BAD_ARGUMENT;
    if (Sys_AcquireHandle(handle, true) != 0)
        return KORUHV_ERR_NOT_OPEN;
    TicketLock_Acquire(&Sys_TableLock);
    if (!s->open.load()) {
        Sys_ReleaseHandle(handle, true);
        TicketLock_Release(&Sys_TableLock);
        return KORUHV_ERR_NOT_OPEN;
    }
    // Closed for the event router first; the calls inside the slot have
    // already left (writer held).
    Sys_LockNames();
    s->open.store(0);
    Sys_UnlockNames();

    int result = KORUHV_OK;
    const BackendOps *ops = Backend_ForFamily(s->family);
    if (ops && ops->DeinitSystem && (s->backendHandle >= 0 || (ops->flags & BACKEND_DEINIT_ALWAYS))) {
        const BackendRef b{s->backendHandle, s->libraryHandle, handle};
        const bool lock = ops->requestLockOps & opBit(OP_DEINIT);
        if (lock)
            TicketLock_Acquire(&s->requestLock);
        const int rc = ops->DeinitSystem(b);
        if (lock)
            TicketLock_Release(&s->requestLock);
        if (ops->flags & BACKEND_DEINIT_RETURNS_CODE)
            result = rc;
    }
    // The backend closes the outside library in its DeinitSystem; one
    // without that operation leaves it to the core.
    if (s->libraryHandle && (!ops || !ops->DeinitSystem))
        dlclose(s->libraryHandle);
    clearSlotTexts(*s);
    s->family = 0;
    s->linkType = 0;
    s->backendHandle = -1;
    s->libraryHandle = nullptr;
    // Freed while the table lock is still held, so no open can claim the
    // slot before it is free.
    Sys_ReleaseHandle(handle, true);
    TicketLock_Release(&Sys_TableLock);
    return result;
}
