// A test event server on 127.0.0.1: accepts a local backend's event
// connection, reads its identification text and its batches through
// KORUHV_GetEventData. Every wait is bounded by the caller's time; kWait
// is the bound of a wait for progress, which only catches a hang.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "wait_progress.h"

namespace korutest {

constexpr std::chrono::milliseconds kWait = koru_test::kHangGuard;

// One batch as the event reader hands it out.
struct Batch {
    int rc = -1;
    std::vector<EventRecord> records;
};

class EventServer {
public:
    EventServer();
    ~EventServer();
    EventServer(const EventServer &) = delete;
    EventServer &operator=(const EventServer &) = delete;

    unsigned short port() const { return port_; }
    // The port as the subscription calls take it (above 32767: negative).
    short apiPort() const { return static_cast<short>(port_); }
    // Accepts the next connection within the time; its identification text
    // (read up to and with its NUL) in ident. -1 when none came.
    int accept(std::chrono::milliseconds within, std::string *ident);
    static Batch read(int fd);
    // Reads batches until one satisfies pred or the time is up (rc -2).
    template <typename Pred> static Batch readUntil(int fd, std::chrono::milliseconds within, Pred pred)
    {
        const auto end = std::chrono::steady_clock::now() + within;
        Batch b;
        while (std::chrono::steady_clock::now() < end) {
            b = read(fd);
            if (b.rc != 0 || pred(b))
                return b;
        }
        b.rc = -2;
        return b;
    }
    // True when the peer closed the connection within the time.
    static bool closedWithin(int fd, std::chrono::milliseconds within);
    void drop(int fd); // closes an accepted connection
    // The library's end of an accepted connection is a descriptor of this
    // process: found by its address, so that a test can wait until the
    // library has closed it (when its sends failed) instead of for a time.
    struct LibraryEnd {
        int fd = -1;
        unsigned short port = 0; // its local port: unique while it is open
    };
    static LibraryEnd libraryEnd(int fd);
    static bool isOpen(const LibraryEnd &end);
    void closeListener();

private:
    int listen_ = -1;
    unsigned short port_ = 0;
    std::vector<int> accepted_;
};

// The record of a batch with this name and channel, or null.
const EventRecord *find(const Batch &b, const char *name, int channel);

// Threads of this process with this name; without a name, all of them.
int threadCount(const char *name);
int threadCount();

} // namespace korutest
