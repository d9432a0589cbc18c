// The local event batch: written by the polling threads of every local
// backend, read by ReadLocalEventBatch. Wire form: "KORUHV", a big-endian
// 32-bit total length (10 + n * 1060), then n records of 1060 bytes
// (kind, instance, board, channel in host order, 20-byte name, 1024-byte value).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "KORUHVWrapper.h"

namespace koruhv {

constexpr size_t kEventBatchHeaderSize = 10;
constexpr size_t kEventWireRecordSize = 1060;

// Value kinds of a wire record (the parameter's wrapper type).
enum EventValueKind {
    EVK_NUMERIC = 0,
    EVK_ONOFF = 1,
    EVK_CHSTATUS = 2,
    EVK_BDSTATUS = 3,
    EVK_BINARY = 4,
    EVK_STRING = 5,
    EVK_ENUM = 6,
};

// Builds one batch in memory.
class EventBatchWriter {
public:
    EventBatchWriter();
    void clear();
    size_t count() const;
    // channel -1 for a board-level parameter; the name is cut to 19 characters.
    void addFloat(int instance, int board, int channel, const char *name, float value);
    void addInt(int kind, int instance, int board, int channel, const char *name, int32_t value);
    void addText(int instance, int board, int channel, const char *name, const char *text);
    const std::vector<uint8_t> &bytes(); // header with the final length, then the records

private:
    void addRecord(int kind, int instance, int board, int channel, const char *name, const void *value,
                   size_t len);
    std::vector<uint8_t> buf_;
};

// Connects from 127.0.0.1 to the program's event server at port and sends
// the identification text with its NUL. Sends are bounded (MSG_NOSIGNAL,
// send time-out). 0 with *sock, or -1.
int LocalEvent_Connect(unsigned short port, const char *identText, int *sock);
// Sends every byte of a batch; 0, or -1 when the peer is gone (the caller
// closes the socket and connects again at the next subscription).
int LocalEvent_Send(int sock, const void *data, size_t len);

// Reads one local batch from sock (15 s bounds); codes of KORUHV_GetEventData.
int ReadLocalEventBatch(int sock, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events, int *count);

} // namespace koruhv
