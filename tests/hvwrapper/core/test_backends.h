// Recording backends for every family, installed over the registered ones
// through the override hook, and a fixture that removes them again.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "backend_ops.h"

namespace coretest {

constexpr int kFamilyCodes[] = {0, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

struct FamilyRecord {
    std::string link;
    std::string address;
    std::string user;
    std::string password;
    int opens = 0;
    int deinits = 0;
    int initResult = 0; // result of InitSystem / OpenDevice (when >= 0 OpenDevice returns nextHandle)
    int nextHandle = 7;
    int deinitResult = 0;
    int lastDeinitHandle = -100;
    void *lastDeinitLibrary = nullptr;
    // OpenDevice arguments
    int connType = -1;
    std::string ip;
    int linkNumber = -2;
    int node = -2;
    uint32_t base = 0;
};

struct World {
    std::mutex m;
    FamilyRecord fam[32];
    std::atomic<int> openDelayMs{0};
    std::atomic<bool> anyInstanceOpen{false};
    // Standard operations
    std::atomic<int> opResult{0};
    std::atomic<int> opDelayMs{0};
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<int> calls{0};
    std::string lastItems;
    int lastItemCount = -1;
    int lastBackendHandle = -100;
    int lastSlotArg = -1;
    // Crate map / composition
    uint16_t crateMapSlots = 4;
    std::vector<uint16_t> crateWords{4};
    std::vector<uint32_t> slotWords{0x10000 | 12, 0, 0x10000 | 24, 0x10000 | 6};
    std::string errorText = "backend says hi";
    std::string modelText = "A1515";
    std::atomic<int> eventCalls{0};
    int eventSlot = -1;
};

World &world();
void resetWorld();

// Test operations table of a family; request-lock mask and flags chosen by
// the test.
koruhv::BackendOps makeOps(int family, uint32_t requestLockOps = 0);
void installAll(uint32_t requestLockOps = 0);
void installFamily(int family, const koruhv::BackendOps &ops); // the table is copied and kept alive
void removeAll();
void closeAll();

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetWorld();
        installAll();
    }
    void TearDown() override
    {
        closeAll();
        removeAll();
    }
};

} // namespace coretest
