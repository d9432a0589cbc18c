// Support of the register backend tests: a fixture that loads the stand-in
// communication library for its knobs, declares devices at places and opens
// systems through the public API, and a test event server on 127.0.0.1 that
// reads event batches through KORUHV_GetEventData.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KORUComm_stub.h"
#include "KORUHVWrapper.h"
#include "api_access.h"
#include "event_server.h"

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

// Typed reads and writes come from FixtureAccess.
class BoardsTest : public ::testing::Test, protected korutest::FixtureAccess {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a system; the handle is closed at the end of the test. -1 and
    // the code in *rc when the open fails.
    int open(int type, int link, const std::string &address, int *rc = nullptr);
    void close(int handle);

    int chProp(int h, unsigned short ch, const char *name, const char *prop, void *out);

    Stub stub;
    std::vector<int> handles;
};

using korutest::Batch;
using korutest::EventServer;
using korutest::find;
using korutest::kWait;
using korutest::threadCount; // threadCount(): every thread of this process

} // namespace boardstest
