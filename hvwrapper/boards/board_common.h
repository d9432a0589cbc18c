// Machinery shared by the register-mapped backends (W38XX, BQ71XX): the
// polling thread's start and stop, the event connection to the subscriber
// with its identification and keep-alive, timing, and the value and list
// helpers both families use.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backend_ops.h"
#include "local_events.h"

namespace koruhv {

struct BoardTiming {
    int pollMs = 500;        // polling period
    int keepAliveMs = 2000;  // longest silence on an event connection (the reader waits 15 s)
    int calibrationMs = 100; // pause after each BQ71XX calibration code
};
BoardTiming Board_Timing();

int64_t Board_NowMs();

// The address text the system of a wrapper slot was opened with: the event
// connection is identified by it.
std::string Board_SlotAddress(int slot);

// A polling thread that stops promptly: stop() wakes its sleep and joins it.
class BoardPoller {
public:
    ~BoardPoller() { stop(); }
    bool start(std::function<void()> body);
    void stop();
    bool stopping() const { return stop_.load(); }
    // Sleeps ms; true when stop() was called meanwhile.
    bool sleep(int ms);

private:
    std::thread thread_;
    std::mutex m_;
    std::condition_variable cv_;
    std::atomic<bool> stop_{false};
};

// The event connection of one device; every member is guarded by the
// owner's device lock except lastSendMs.
struct BoardEventLink {
    int sock = -1;
    std::atomic<int64_t> lastSendMs{0};

    // Connects to 127.0.0.1:port and sends the identification text with its
    // NUL when there is no connection. 0, or -1 (nothing left open).
    int ensure(unsigned short port, const std::string &ident);
    void close();
    // Ends the connection for both sides but keeps the descriptor, so a
    // send under way returns at once and the number cannot be reused
    // before the polling thread has stopped; close() follows.
    void shutdown();
};

// Sends one batch on sock; a failed send closes the connection (when it is
// still the device's), so the next subscription opens a new one. lock is the
// device lock guarding link.
bool Board_SendBatch(std::recursive_mutex &lock, BoardEventLink &link, int sock, EventBatchWriter &w);
// Sends an empty batch when the connection has been silent for the
// keep-alive time.
bool Board_KeepAlive(std::recursive_mutex &lock, BoardEventLink &link, int sock);

// Splits a ':'-joined item list; false when it does not hold count items.
bool Board_SplitItems(const char *items, uint16_t count, std::vector<std::string> *out);

// Decimals of a resolution or scale: 1 -> 0, 5 and 10 -> 1, 100 -> 2.
int16_t Board_Decimals(uint32_t x);

// What the parameter property calls tell of one parameter.
struct BoardParamFacts {
    int type = 0;
    bool writable = false; // "Mode" reads 2 (read/write) or 0 (read-only)
    float minimum = 0, maximum = 0;
    int16_t unit = 0, exponent = 0, decimals = 0;
    const char *onText = nullptr, *offText = nullptr; // null: the parameter has no such property
};
// One property of a parameter into out: BD_OK, or BD_NO_PROPERTY for a
// property it does not have (or no prop or out).
int Board_ParamProperty(const BoardParamFacts &f, const char *prop, void *out);

// Lists handed to the caller (malloc'ed).
int Board_NameSlots(const std::vector<const char *> &names, char **out); // 10-byte slots and an empty one
int Board_CrateMap(const char *model, const char *description, uint32_t serial, uint8_t minor, uint8_t major,
                   uint16_t *slotCount, char **models, char **descriptions, uint32_t **serials,
                   uint8_t **minors, uint8_t **majors);
int Board_SysComp(int channels, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords);
int Board_ChannelNames(uint16_t slot, uint16_t count, const uint16_t *channels, int channelCount,
                       char (*names)[KORUHV_CHANNEL_NAME_SIZE]);

// Result codes of the register families.
enum BoardCode {
    BD_OK = 0,
    BD_WRITE_FAILED = 2,
    BD_READ_FAILED = 3,
    BD_NOT_SUPPORTED = 6,
    BD_NO_MEMORY = 9,
    BD_OUT_OF_RANGE = 10,
    BD_NO_COMMANDS = 11,
    BD_NO_PROPERTY = 21,
    BD_UNKNOWN = 22,
    BD_COUNT_MISMATCH = 26,
    BD_EVENT_SOCKET = 28,
    BD_NOT_OPEN = 4098,
};

} // namespace koruhv
