// Register-link opens through the stand-in outside library: the address
// fields reach the library's open entry, failures close the library again.
// Runs with the stand-in on the library search path.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "KORUComm_stub.h"
#include "backend_override.h"
#include "sys_table.h"

using namespace koruhv;

namespace {

// A register-board backend of the smallest kind: opens the device through
// the library handle the core loaded, closes both at the close.
int g_lastDevice = -1;

int openDevice(int connType, const char *ipText, int linkNumber, int node, uint32_t base, void *library)
{
    auto open = reinterpret_cast<KORUComm_OpenDevice2_t>(dlsym(library, "KORUComm_OpenDevice2"));
    if (!open)
        return -1;
    int dev = -1;
    // The library takes the IP text for TCP/IP, else a pointer to the link number.
    const void *linkArg = ipText ? static_cast<const void *>(ipText) : &linkNumber;
    const int rc = open(connType, linkArg, node, base, &dev);
    if (rc != 0)
        return rc;
    g_lastDevice = dev;
    return dev;
}

int deinit(const BackendRef &b)
{
    auto close = reinterpret_cast<KORUComm_CloseDevice_t>(dlsym(b.library, "KORUComm_CloseDevice"));
    if (close && b.handle >= 0)
        close(b.handle);
    if (b.library)
        dlclose(b.library);
    return 0;
}

BackendOps registerOps(int family)
{
    BackendOps o{};
    o.family = family;
    o.flags = BACKEND_LOCAL_EVENTS | BACKEND_REGISTER_LINK;
    o.OpenDevice = openDevice;
    o.DeinitSystem = deinit;
    return o;
}

const BackendOps kW38XX = registerOps(5);
const BackendOps kBQ71XX = registerOps(9);

template <typename T> T stubFn(void *lib, const char *name)
{
    return reinterpret_cast<T>(dlsym(lib, name));
}

bool libraryLoaded()
{
    void *h = dlopen("libKORUComm.so", RTLD_LAZY | RTLD_NOLOAD);
    if (h)
        dlclose(h);
    return h != nullptr;
}

class CommLibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Backend_SetOverrideForTests(5, &kW38XX);
        Backend_SetOverrideForTests(9, &kBQ71XX);
    }
    void TearDown() override
    {
        for (int h = 0; h < KORUHV_MAX_SYSTEMS; ++h)
            KORUHV_DeinitSystem(h);
        Backend_SetOverrideForTests(5, nullptr);
        Backend_SetOverrideForTests(9, nullptr);
    }
};

struct ArgCase {
    int type;
    int link;
    const char *address;
    int code;
    int connType;
    const char *ip;
    int linkNumber;
    int node;
    uint32_t base;
};

} // namespace

TEST_F(CommLibTest, AddressFieldsReachTheOpenEntry)
{
    const ArgCase cases[] = {
        {5, 3, "1_2_3", 0, 0, "", 1, 2, 3},
        {5, 3, "12_1f_ee000000", 0, 0, "", 12, 0x1f, 0xee000000u},
        {5, 0, "192.168.1.5_a_ff00", 0, 6, "192.168.1.5", 0, 10, 0xff00},
        {5, 7, "1", 0, 2, "", 1, 0, 0}, // J6280 needs no node
        {9, 4, "2_1f", 0, 1, "", 2, 0x1f, 0},
        {9, 6, "0_0", 0, 7, "", 0, 0, 0},
    };
    for (const ArgCase &c : cases) {
        int h = -1;
        ASSERT_EQ(KORUHV_InitSystem(c.type, c.link, (void *)c.address, "", "", &h), c.code) << c.address;
        void *lib = dlopen("libKORUComm.so", RTLD_LAZY | RTLD_NOLOAD);
        ASSERT_NE(lib, nullptr);
        int conn = -9, linkNumber = -9, node = -9;
        uint32_t base = 1;
        char ip[64];
        ASSERT_EQ(stubFn<KORUCommStub_LastOpen_t>(lib, "KORUCommStub_LastOpen")(&conn, ip, sizeof ip,
                                                                                &linkNumber, &node, &base),
                  0);
        EXPECT_EQ(conn, c.connType) << c.address;
        EXPECT_STREQ(ip, c.ip) << c.address;
        EXPECT_EQ(linkNumber, c.linkNumber) << c.address;
        EXPECT_EQ(node, c.node) << c.address;
        EXPECT_EQ(base, c.base) << c.address;
        SystemSlot *s = Sys_Slot(h);
        EXPECT_EQ(s->family, c.type);
        EXPECT_EQ(s->backendHandle, g_lastDevice);
        EXPECT_EQ(s->libraryHandle, lib);
        EXPECT_EQ(stubFn<KORUCommStub_OpenDevices_t>(lib, "KORUCommStub_OpenDevices")(), 1);
        ASSERT_EQ(KORUHV_DeinitSystem(h), 0);
        EXPECT_EQ(stubFn<KORUCommStub_OpenDevices_t>(lib, "KORUCommStub_OpenDevices")(), 0);
        dlclose(lib);
        EXPECT_FALSE(libraryLoaded()) << "the close releases the library handle";
    }
}

TEST_F(CommLibTest, MissingFieldsAndFailedOpensCloseTheLibrary)
{
    const struct {
        int type;
        int link;
        const char *address;
    } missing[] = {
        {9, 3, "1"},        // node missing
        {5, 3, "x_1"},      // link number not a number
        {5, 0, "_1"},       // empty IP text
        {5, 0, "10.0.0.1"}, // node missing
        {9, 4, ""},
    };
    for (const auto &c : missing) {
        int h = 5;
        EXPECT_EQ(KORUHV_InitSystem(c.type, c.link, (void *)c.address, "", "", &h), KORUHV_ERR_OPEN_FAILED)
            << c.address;
        EXPECT_EQ(h, -1);
        EXPECT_FALSE(libraryLoaded()) << c.address;
    }

    // The device refuses: the library result is mapped, the library closed.
    const struct {
        int lib;
        int code;
    } refused[] = {{-1, 4100}, {-5, 4100}, {-2, 4103}, {-4, 4103}, {-9, -9}};
    for (const auto &r : refused) {
        void *lib = dlopen("libKORUComm.so", RTLD_LAZY);
        ASSERT_NE(lib, nullptr);
        stubFn<KORUCommStub_SetOpenResult_t>(lib, "KORUCommStub_SetOpenResult")(r.lib);
        int h = 5;
        EXPECT_EQ(KORUHV_InitSystem(5, 3, (void *)"1_2", "", "", &h), r.code);
        EXPECT_EQ(stubFn<KORUCommStub_OpenCount_t>(lib, "KORUCommStub_OpenCount")(), 1);
        stubFn<KORUCommStub_Reset_t>(lib, "KORUCommStub_Reset")();
        dlclose(lib);
        EXPECT_FALSE(libraryLoaded());
    }
}

TEST_F(CommLibTest, RegisterEntriesKeepValuesPerDevice)
{
    void *lib = dlopen("libKORUComm.so", RTLD_LAZY);
    ASSERT_NE(lib, nullptr);
    auto open = stubFn<KORUComm_OpenDevice2_t>(lib, "KORUComm_OpenDevice2");
    auto w16 = stubFn<KORUComm_Write16_t>(lib, "KORUComm_Write16");
    auto r16 = stubFn<KORUComm_Read16_t>(lib, "KORUComm_Read16");
    auto w32 = stubFn<KORUComm_Write32_t>(lib, "KORUComm_Write32");
    auto mr32 = stubFn<KORUComm_MultiRead32_t>(lib, "KORUComm_MultiRead32");
    auto close = stubFn<KORUComm_CloseDevice_t>(lib, "KORUComm_CloseDevice");
    ASSERT_TRUE(open && w16 && r16 && w32 && mr32 && close);
    int a = -1, b = -1;
    const int link0 = 0;
    ASSERT_EQ(open(0, &link0, 1, 0, &a), 0);
    ASSERT_EQ(open(0, &link0, 2, 0, &b), 0);
    EXPECT_EQ(w16(a, 0x80, 0x1234), 0);
    EXPECT_EQ(w32(b, 0x80, 0xdeadbeef), 0);
    uint16_t v = 0;
    EXPECT_EQ(r16(a, 0x80, &v), 0);
    EXPECT_EQ(v, 0x1234);
    const uint32_t addrs[2] = {0x80, 0x84};
    uint32_t vals[2] = {1, 1};
    EXPECT_EQ(mr32(b, 2, addrs, vals), 0);
    EXPECT_EQ(vals[0], 0xdeadbeefu);
    EXPECT_EQ(vals[1], 0u);
    EXPECT_EQ(close(a), 0);
    EXPECT_NE(r16(a, 0x80, &v), 0);
    EXPECT_EQ(close(b), 0);
    dlclose(lib);
}
