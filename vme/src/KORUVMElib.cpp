// API front of libKORUVME: opening and closing handles, releases, resets and
// error texts. Each call that talks to a board runs inside the per-call
// bracket (vme_board_open ... vme_board_close).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "card_ioctl.h"
#include "device_io.h"
#include "vme_internal.h"

using namespace koruvme;

namespace {

enum class Family { Invalid, UsbChar0, UsbChar1, Net6, Net4, J4280, J5280, Adapter, Xdma, Optical };

Family familyOf(uint32_t type)
{
    switch (type) {
    case 0:
        return Family::UsbChar0;
    case 14:
    case 17:
        return Family::UsbChar1;
    case 2:
        return Family::J4280;
    case 4:
        return Family::J5280;
    case 28:
        return Family::Xdma;
    case 20:
    case 24:
        return Family::Net6;
    case 23:
    case 27:
        return Family::Net4;
    case 1:
    case 3:
    case 15:
    case 16:
    case 18:
    case 19:
    case 21:
    case 22:
    case 25:
    case 26:
    case 29:
    case 30:
    case 31:
    case 32:
        return Family::Optical;
    default:
        return type >= 5 && type <= 13 ? Family::Adapter : Family::Invalid;
    }
}

bool openCardNode(int32_t handle)
{
    BoardEntry &e = g_boards[handle];
    char path[64];
    if (e.linkKind == 5) {
        std::snprintf(path, sizeof path, "/dev/j5280_%d",
                      static_cast<int>(e.card * 64 + e.channel * 8 + e.boardNumber));
    } else if (e.linkKind == 4) {
        if (e.card == kNone)
            return false;
        std::snprintf(path, sizeof path, "/dev/j4280_%d", static_cast<int>(e.card * 16 + e.boardNumber));
    } else if (e.linkKind == 7) {
        vme_link_lock(handle);
        int r = xdma_open(handle);
        vme_link_unlock(handle);
        return r == 0;
    } else {
        return false;
    }
    e.file_handle = deviceIo().open(path, O_RDWR);
    return e.file_handle >= 0;
}

int32_t initByFamily(int32_t handle, Family f)
{
    BoardEntry &e = g_boards[handle];
    switch (f) {
    case Family::UsbChar0:
    case Family::UsbChar1:
    case Family::Adapter:
        e.linkKind = f == Family::UsbChar0 ? 0 : f == Family::UsbChar1 ? 1 : 6;
        if (f == Family::Adapter)
            e.channel = 0;
        vme_link_lock_create(handle);
        if (!vme_board_open(handle))
            return kCommError;
        vme_board_close(handle);
        return kOk;
    case Family::Net6:
    case Family::Net4:
        e.linkKind = f == Family::Net6 ? 2 : 3;
        vme_link_lock_create(handle);
        return f == Family::Net6 ? net_open_ipv6(handle) : net_open_ipv4(handle);
    case Family::J4280:
        e.linkKind = 4;
        e.card = e.linkNumber;
        e.channel = kNone;
        break;
    case Family::J5280:
        e.linkKind = 5;
        e.card = e.linkNumber / 4;
        e.channel = e.linkNumber % 4;
        break;
    case Family::Xdma:
        e.linkKind = 7;
        e.card = e.linkNumber / 4;
        break;
    case Family::Optical:
        vme_discover_optical(e);
        break;
    case Family::Invalid:
        return kInvalidParam;
    }
    if (e.linkKind == kNone)
        return kCommError;
    vme_link_lock_create(handle);
    return openCardNode(handle) ? kOk : kCommError;
}

int32_t copyDriverText(char *text, const char *driverText)
{
    std::memcpy(text, driverText, kDriverTextSize);
    text[kDriverTextSize] = '\0'; // the driver's text need not be terminated
    return kOk;
}

} // namespace

extern "C" {

KORUVME_API int32_t KORUVME_Init2(uint32_t boardType, const void *linkArg, int16_t boardNumber,
                                  int32_t *handle)
{
    if (!linkArg || !handle || static_cast<uint16_t>(boardNumber) > 7)
        return kInvalidParam;
    const Family family = familyOf(boardType);
    uint32_t link;
    if (boardType == 23 || boardType == 27)
        link = net_resolve_ipv4(static_cast<const char *>(linkArg));
    else
        std::memcpy(&link, linkArg, sizeof link);
    if (link == kNone)
        return kInvalidParam;
    // Card types ignore the caller's board number; compare what is stored.
    int32_t board = (boardType == 2 || boardType == 4) ? 0 : boardNumber;
    int32_t slot = -1;
    for (int32_t i = 0; i < kMaxHandles; ++i) {
        const BoardEntry &e = g_boards[i];
        if (e.linkNumber == kNone) {
            if (slot < 0)
                slot = i;
        } else if (e.boardType == boardType && e.linkNumber == link && e.boardNumber == board) {
            return kAlreadyOpen;
        }
    }
    if (slot < 0)
        return kNoFreeHandle;
    // An unknown type is refused only once a slot is known (a full table says -7 first).
    if (family == Family::Invalid)
        return kInvalidParam;
    BoardEntry &e = g_boards[slot];
    e.boardType = boardType;
    e.linkNumber = link;
    e.boardNumber = board;
    int32_t r = initByFamily(slot, family);
    if (r == kOk && !vme_is_local_type(boardType)) {
        int16_t mode = 0;
        r = KORUVME_GetFIFOMode(slot, &mode);
        if (r == kOk)
            r = KORUVME_WriteRegister(slot, 6, 0xFF);
    }
    if (r != kOk) {
        KORUVME_End(slot);
        return r;
    }
    *handle = slot;
    return kOk;
}

KORUVME_API int32_t KORUVME_Init(uint32_t boardType, int16_t link, int16_t boardNumber, int32_t *handle)
{
    if (boardType == 20 || boardType == 23 || boardType == 24 || boardType == 27)
        return kNotSupported;
    if (boardType == 0 || boardType == 14 || boardType == 17) {
        link = boardNumber;
        boardNumber = 0;
    }
    if (link < 0)
        return kInvalidParam;
    uint32_t linkNumber = static_cast<uint32_t>(static_cast<int32_t>(link));
    return KORUVME_Init2(boardType, &linkNumber, boardNumber, handle);
}

KORUVME_API int32_t KORUVME_End(int32_t handle)
{
    BoardEntry *ep = vme_entry(handle);
    if (!ep)
        return kInvalidParam;
    BoardEntry &e = *ep;
    int32_t r;
    switch (e.linkKind) {
    case 0:
    case 1:
        std::free(e.transport);
        e.transport = nullptr;
        r = kOk;
        break;
    case 2:
    case 3:
        r = net_close(handle);
        break;
    case 4:
    case 5:
        r = (e.file_handle >= 0 && deviceIo().close(e.file_handle) == 0) ? kOk : kGenericError;
        break;
    case 6:
        r = usb_close(handle) == 0 ? kOk : kGenericError;
        break;
    case 7:
        vme_link_lock(handle);
        r = xdma_close(handle) == 0 ? kOk : kGenericError;
        vme_link_unlock(handle);
        break;
    default:
        r = kNotSupported;
        break;
    }
    if (e.lock) {
        int c = shared_mutex_close(e.lock);
        if (c)
            std::fprintf(stderr, "shared_mutex_close failed with error %d\n", c);
    }
    e.boardType = e.linkKind = e.linkNumber = e.card = e.channel = kNone;
    e.fifo = -1;
    e.boardNumber = -1;
    e.lock = nullptr;
    e.file_handle = -1;
    e.transport = nullptr;
    return r;
}

KORUVME_API const char *KORUVME_DecodeError(int32_t code)
{
    switch (code) {
    case 0:
        return "Success";
    case -1:
        return "Bus error";
    case -2:
        return "Communication error";
    case -3:
        return "Generic error";
    case -4:
        return "Invalid parameter";
    case -5:
        return "Timeout";
    default:
        return "Unknown error";
    }
}

KORUVME_API int32_t KORUVME_SWRelease(char *text)
{
    if (text)
        std::strcpy(text, "4.0.0");
    return kOk;
}

KORUVME_API int32_t KORUVME_BoardFWRelease(int32_t handle, char *text)
{
    BoardEntry *e = vme_entry(handle);
    if (!e || !text)
        return kInvalidParam;
    if (e->boardType == 28) {
        if (!vme_board_open(handle))
            return kCommError;
        int r = xdma_fw_release(handle, text);
        vme_board_close(handle);
        return r == 0 ? kOk : kCommError;
    }
    if (!vme_board_open(handle))
        return kCommError;
    uint32_t v = 0;
    bool ok;
    switch (e->boardType) {
    case 2:
        ok = vme_reg_read(handle, 28, &v);
        break;
    case 3:
    case 13:
        ok = vme_reg_read(handle, 4, &v);
        break;
    case 4:
        ok = vme_card_reg_read(handle, 0x1040, &v);
        break;
    case 7:
        ok = vme_reg_read(handle, 32, &v);
        break;
    default:
        ok = vme_reg_read(handle, 2, &v);
        break;
    }
    vme_board_close(handle);
    if (!ok)
        return kCommError;
    std::snprintf(text, KORUVME_TEXT_SIZE, "%01u.%02u", (v >> 8) & 0xFF, v & 0xFF);
    return kOk;
}

KORUVME_API int32_t KORUVME_DriverRelease(int32_t handle, char *text)
{
    BoardEntry *e = vme_entry(handle);
    if (!e || !text) {
        if (text)
            text[0] = '\0';
        return kInvalidParam;
    }
    text[0] = '\0';
    switch (e->linkKind) {
    case 6:
        std::strcpy(text, "1.0");
        return kOk;
    case 0:
    case 4:
    case 5: {
        if (!vme_board_open(handle))
            return kCommError;
        char buf[kDriverTextSize] = {};
        int r =
            deviceIo().ioctl(e->file_handle, e->linkKind == 0 ? kIoctlUsbRelease : kIoctlDriverRelease, buf);
        vme_board_close(handle);
        if (r < 0)
            return kCommError;
        if (e->linkKind == 5 && r == 38) {
            std::strcpy(text, "1.6.8");
            return kOk;
        }
        return copyDriverText(text, buf);
    }
    default:
        return kNotSupported;
    }
}

KORUVME_API int32_t KORUVME_DeviceReset(int32_t handle)
{
    BoardEntry *e = vme_entry(handle);
    if (!e)
        return kInvalidParam;
    if (e->boardType < 1 || e->boardType > 4 || (e->linkKind != 4 && e->linkKind != 5))
        return kNotSupported;
    if (!vme_board_open(handle))
        return kCommError;
    int r = deviceIo().ioctl(e->file_handle, kIoctlCardReset, nullptr);
    vme_board_close(handle);
    return r < 0 ? kCommError : kOk;
}

KORUVME_API int32_t _KORUVME_OpticalLinkSlaveReset(int32_t handle)
{
    BoardEntry *e = vme_entry(handle);
    if (!e)
        return kInvalidParam;
    if (e->boardType != 1 || e->linkKind != 5)
        return kNotSupported;
    if (!vme_board_open(handle))
        return kCommError;
    int r = deviceIo().ioctl(e->file_handle, kIoctlSlaveReset, nullptr);
    vme_board_close(handle);
    return r < 0 ? kCommError : kOk;
}

KORUVME_API int32_t KORUVME_SystemReset(int32_t handle)
{
    BoardEntry *e = vme_entry(handle);
    if (!e || vme_is_local_type(e->boardType))
        return kInvalidParam;
    if (!vme_board_open(handle))
        return kCommError;
    uint32_t v = 0;
    bool ok = vme_reg_read(handle, 1, &v) && vme_reg_write(handle, 1, (v | 0x80) & 0xFFFF) &&
              vme_reg_write(handle, 1, v & ~0x80u & 0xFFFF);
    vme_board_close(handle);
    return ok ? kOk : kCommError;
}

} // extern "C"
