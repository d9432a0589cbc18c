// Support of the register backend tests: a fixture that loads the stand-in
// communication library for its knobs, declares devices at places and opens
// systems through the public API, and a test event server on 127.0.0.1 that
// reads event batches through KORUHV_GetEventData.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "KORUComm_stub.h"
#include "KORUHVWrapper.h"

namespace boardstest {

constexpr int kW38XX = 5;
constexpr int kBQ71XX = 9;
constexpr int kLinkTcp = 0, kLinkUsb = 3, kLinkOptlink = 4, kLinkUsb3 = 6, kLinkJ6280 = 7;

// The stand-in's knobs, resolved once per test.
struct Stub {
    void *lib = nullptr;
    KORUCommStub_Reset_t reset = nullptr;
    KORUCommStub_OpenDevices_t openDevices = nullptr;
    KORUCommStub_OpenCount_t openCount = nullptr;
    KORUCommStub_AttachDevice_t attach = nullptr;
    KORUCommStub_PlacePoke16_t poke = nullptr;
    KORUCommStub_PlacePeek16_t peek = nullptr;
    KORUCommStub_FailReads_t failReads = nullptr;
    KORUCommStub_FailWrites_t failWrites = nullptr;
    KORUCommStub_ReadCount_t readCount = nullptr;
    KORUCommStub_WriteCount_t writeCount = nullptr;
    KORUCommStub_SetTimeScale_t timeScale = nullptr;
    KORUCommStub_SetOpenResult_t openResult = nullptr;
};

class BoardsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a system; the handle is closed at the end of the test. -1 and
    // the code in *rc when the open fails.
    int open(int type, int link, const std::string &address, int *rc = nullptr);
    void close(int handle);

    float getFloat(int h, const char *name, unsigned short ch, int *rc = nullptr);
    int getInt(int h, const char *name, unsigned short ch, int *rc = nullptr);
    int setFloat(int h, const char *name, unsigned short ch, float v);
    int setInt(int h, const char *name, unsigned short ch, int v);
    int chProp(int h, unsigned short ch, const char *name, const char *prop, void *out);

    Stub stub;
    std::vector<int> handles;
};

struct Batch {
    int rc = -1;
    std::vector<EventRecord> records;
};

class EventServer {
public:
    EventServer();
    ~EventServer();
    short port() const { return static_cast<short>(port_); }
    // Accepts the next connection within the time; its identification text
    // (up to its NUL) in ident. -1 when none came.
    int accept(std::chrono::milliseconds within, std::string *ident);
    static Batch read(int fd);
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
    void closeListener();

private:
    int listen_ = -1;
    unsigned short port_ = 0;
    std::vector<int> accepted_;
};

const EventRecord *find(const Batch &b, const char *name, int channel);
// Threads of this process.
int threadCount();

} // namespace boardstest
