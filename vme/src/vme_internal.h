// Internal state and operations of libKORUVME shared by its source files:
// the handle table, the per-call bracket, the transaction dispatcher, bridge
// register access and the transports' entry points. Nothing here is exported.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KORUVMElib.h"

namespace koruvme {

constexpr int kMaxHandles = 100;
constexpr uint32_t kNone = 0xFFFFFFFFu;

enum : int32_t {
    kOk = 0,
    kBusError = -1,
    kCommError = -2,
    kGenericError = -3,
    kInvalidParam = -4,
    kTimeout = -5,
    kAlreadyOpen = -6,
    kNoFreeHandle = -7,
    kNotSupported = -8,
};

// Status word bit of a reply: the VME cycle ended with a bus error.
constexpr uint32_t kStatusBusError = 0x20;

struct SharedMutex;

struct BoardEntry {
    uint32_t boardType;
    uint32_t linkKind;
    uint32_t linkNumber; // kNone marks the entry free
    int16_t fifo;
    int32_t boardNumber;
    uint32_t card;
    uint32_t channel;
    SharedMutex *lock;
    int32_t file_handle;
    void *transport;
};

extern BoardEntry g_boards[kMaxHandles];

void vme_reset_table();
// The entry of a handle in use, or nullptr (handle above 99, negative, free).
BoardEntry *vme_entry(int32_t handle);
// Board types without a VME master.
bool vme_is_local_type(uint32_t type);

// Per-call bracket: the link lock is held from a successful open to the close.
bool vme_board_open(int32_t handle);
bool vme_board_close(int32_t handle);
int32_t vme_transact(int32_t handle, const void *request, int32_t length, void *reply, int32_t capacity,
                     uint32_t *status, bool takeLock);
bool vme_reg_read(int32_t handle, uint32_t reg, uint32_t *value);
bool vme_reg_write(int32_t handle, uint32_t reg, uint32_t value);
bool vme_card_reg_read(int32_t handle, uint32_t reg, uint32_t *value);
bool vme_card_reg_write(int32_t handle, uint32_t reg, uint32_t value);

// Cross-process link lock
int vme_link_lock_create(int32_t handle);
int vme_link_lock(int32_t handle);
int vme_link_unlock(int32_t handle);
// Name of a link's lock object; false for kinds without one.
bool vme_lock_name(const BoardEntry &e, char *out, size_t size);
int shared_mutex_init(SharedMutex **out, const char *name);
int shared_mutex_open(SharedMutex *m, const char *name);
int shared_mutex_lock(SharedMutex *m);
int shared_mutex_unlock(SharedMutex *m);
int shared_mutex_close(SharedMutex *m);
bool shared_mutex_was_creator(const SharedMutex *m);

// Discovery of the optical links
int vme_count_pci_cards();
// Sets kind, card and channel of an optical board type; false leaves the kind unset.
bool vme_discover_optical(BoardEntry &e);

// Cycles
uint16_t vme_make_command(bool read, uint32_t am, bool last, int32_t width, unsigned kind);
bool vme_irq_supported(int32_t handle);

// Bridge map test: 0 and *newer on success, else the failing read's code.
int32_t vme_bridge_is_newer(int32_t handle, bool *newer);

// Network link
uint32_t net_resolve_ipv4(const char *host);
bool net_ipv6_text(uint32_t linkNumber, char *out, size_t size);
int32_t net_open_ipv6(int32_t handle);
int32_t net_open_ipv4(int32_t handle);
int32_t net_transact(int32_t handle, const void *request, int32_t length, void *reply, int32_t capacity,
                     uint32_t *status);
int32_t net_close(int32_t handle);

// USB adapter link
int usb_reg_write(int32_t handle, uint32_t area, uint32_t reg, const uint32_t *words, uint32_t count);
int usb_reg_read(int32_t handle, uint32_t area, uint32_t reg, uint32_t *dest, uint32_t count);
int usb_open(int32_t handle);
int usb_release(int32_t handle);
int usb_close(int32_t handle);
int usb_link_reset(int32_t handle);
int32_t usb_transact(int32_t handle, const void *request, int32_t length, void *reply, int32_t capacity,
                     uint16_t *status);

// Reply record framing shared by the USB adapter and XDMA links: walks the
// records in words[0..count). Returns 1 when the reply is complete (data
// appended, status set), 0 when more words are needed (*used tells how many
// words were consumed by whole records), or -2 on a malformed record or an
// overflow of the reply buffer.
int vme_walk_records(const uint32_t *words, size_t count, size_t *used, uint8_t *reply, size_t capacity,
                     size_t *delivered, uint16_t *status);
// Builds the transaction request (header word and padded request bytes);
// returns the number of words (1 + ceil(length / 4)).
size_t vme_build_link_request(uint32_t *out, const void *request, int32_t length, int32_t boardNumber);

// XDMA link
int xdma_open(int32_t handle);
int xdma_close(int32_t handle);
int xdma_reg_read(int32_t handle, uint32_t reg, uint32_t *value);
int xdma_reg_write(int32_t handle, uint32_t reg, uint32_t value);
int xdma_reg_set_bits(int32_t handle, uint32_t reg, uint32_t bits);
int xdma_reg_clear_bits(int32_t handle, uint32_t reg, uint32_t bits);
uint32_t xdma_window_reg(int32_t handle);
int xdma_link_reset(int32_t handle);
int32_t xdma_transact(int32_t handle, const void *request, int32_t length, void *reply, int32_t capacity,
                      uint16_t *status);
int xdma_irq_enable(int32_t handle, uint32_t mask);
int xdma_irq_disable(int32_t handle, uint32_t mask);
int xdma_irq_wait(int32_t handle, uint32_t mask, uint32_t timeout);
int xdma_fw_release(int32_t handle, char *text);

// Small helpers
void vme_sleep_until_us(long long startUs, long long minUs, unsigned stepUs);
long long vme_now_us();
long long vme_now_ms();

} // namespace koruvme
