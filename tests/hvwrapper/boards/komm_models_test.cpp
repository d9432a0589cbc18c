// The stand-in communication library on its own: places keep their device
// across opens, multi-reads report per item, failure knobs count down, and
// the device models answer as their register maps say.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "KORUComm_stub.h"

namespace {

template <typename T> T fn(void *lib, const char *name)
{
    return reinterpret_cast<T>(dlsym(lib, name));
}

class KommTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lib = dlopen("libKORUComm.so", RTLD_LAZY);
        ASSERT_NE(lib, nullptr);
        open = fn<KORUComm_OpenDevice2_t>(lib, "KORUComm_OpenDevice2");
        close = fn<KORUComm_CloseDevice_t>(lib, "KORUComm_CloseDevice");
        r16 = fn<KORUComm_Read16_t>(lib, "KORUComm_Read16");
        w16 = fn<KORUComm_Write16_t>(lib, "KORUComm_Write16");
        r32 = fn<KORUComm_Read32_t>(lib, "KORUComm_Read32");
        multi = fn<KORUComm_MultiRead16_t>(lib, "KORUComm_MultiRead16");
        attach = fn<KORUCommStub_AttachDevice_t>(lib, "KORUCommStub_AttachDevice");
        failReads = fn<KORUCommStub_FailReads_t>(lib, "KORUCommStub_FailReads");
        ASSERT_TRUE(open && close && r16 && w16 && r32 && multi && attach && failReads);
        fn<KORUCommStub_Reset_t>(lib, "KORUCommStub_Reset")();
    }
    void TearDown() override
    {
        fn<KORUCommStub_Reset_t>(lib, "KORUCommStub_Reset")();
        dlclose(lib);
    }
    void *lib = nullptr;
    KORUComm_OpenDevice2_t open = nullptr;
    KORUComm_CloseDevice_t close = nullptr;
    KORUComm_Read16_t r16 = nullptr;
    KORUComm_Write16_t w16 = nullptr;
    KORUComm_Read32_t r32 = nullptr;
    KORUComm_MultiRead16_t multi = nullptr;
    KORUCommStub_AttachDevice_t attach = nullptr;
    KORUCommStub_FailReads_t failReads = nullptr;
};

} // namespace

TEST_F(KommTest, PlacesKeepTheirDeviceAcrossOpens)
{
    const int link = 2;
    ASSERT_GE(attach(1, nullptr, link, 5, 0, KORUCOMM_MODEL_BQ71XX, 0), 0);
    int a = -1, b = -1;
    ASSERT_EQ(open(1, &link, 5, 0, &a), 0);
    ASSERT_EQ(w16(a, 0x1320, 1234), 0); // channel 3's VSet
    ASSERT_EQ(close(a), 0);
    ASSERT_EQ(open(1, &link, 5, 0, &b), 0);
    uint16_t v = 0;
    ASSERT_EQ(r16(b, 0x1320, &v), 0);
    EXPECT_EQ(v, 1234);
    // The same link at another node is another (plain) device.
    int c = -1;
    ASSERT_EQ(open(1, &link, 6, 0, &c), 0);
    ASSERT_EQ(r16(c, 0x1320, &v), 0);
    EXPECT_EQ(v, 0);
    // TCP/IP places are told apart by their IP text.
    ASSERT_GE(attach(6, "127.0.0.7", 0, 1, 0, KORUCOMM_MODEL_ABSENT, 0), 0);
    int d = -1;
    EXPECT_NE(open(6, "127.0.0.7", 1, 0, &d), 0);
    EXPECT_EQ(open(6, "127.0.0.8", 1, 0, &d), 0);
    EXPECT_EQ(close(b), 0);
    EXPECT_EQ(close(c), 0);
    EXPECT_EQ(close(d), 0);
}

TEST_F(KommTest, MultiReadReportsEveryItemAndFaultsCountDown)
{
    const int link = 0;
    const int place = attach(0, nullptr, link, 1, 0, KORUCOMM_MODEL_W38XX, 4);
    int h = -1;
    ASSERT_EQ(open(0, &link, 1, 0, &h), 0);
    const uint32_t addrs[3] = {0x8100, 0x4000, 0x8116};
    uint16_t vals[3] = {};
    int errs[3] = {9, 9, 9};
    ASSERT_EQ(multi(h, addrs, 3, vals, errs), 0);
    EXPECT_EQ(vals[0], 4);                // channel count
    EXPECT_EQ(vals[1], 'V' | ('S' << 8)); // first table entry "VSet"
    EXPECT_EQ(vals[2], 'W' | ('3' << 8)); // model "W3821"
    EXPECT_EQ(errs[0] | errs[1] | errs[2], 0);
    failReads(place, 0x4000, 1);
    EXPECT_NE(multi(h, addrs, 3, vals, errs), 0);
    EXPECT_EQ(errs[0], 0);
    EXPECT_NE(errs[1], 0);
    EXPECT_EQ(errs[2], 0);
    EXPECT_EQ(multi(h, addrs, 3, vals, errs), 0) << "the fault was used up";
    failReads(-1, 0xFFFFFFFFu, -1);
    EXPECT_NE(r16(h, 0x8100, &vals[0]), 0);
    EXPECT_NE(r16(h, 0x8100, &vals[0]), 0);
    failReads(-1, 0xFFFFFFFFu, 0);
    EXPECT_EQ(r16(h, 0x8100, &vals[0]), 0);
    EXPECT_EQ(close(h), 0);
}

TEST_F(KommTest, UnitShowsCalibrationWhileACodeIsSelected)
{
    const int link = 0;
    ASSERT_GE(attach(0, nullptr, link, 1, 0, KORUCOMM_MODEL_BQ71XX, 0), 0);
    int h = -1;
    ASSERT_EQ(open(0, &link, 1, 0, &h), 0);
    uint16_t ident = 0, status = 0, mx = 0, ctrl = 0;
    ASSERT_EQ(r16(h, 0x8140, &ident), 0);
    EXPECT_EQ(ident & 0xFF, 0x0A);
    uint32_t fw = 0;
    ASSERT_EQ(r32(h, 0x8124, &fw), 0);
    EXPECT_EQ(fw, 0x00120305u);
    ASSERT_EQ(w16(h, 0x1034, 0xB1), 0); // ISet's calibration
    ASSERT_EQ(r16(h, 0x1038, &status), 0);
    ASSERT_EQ(r16(h, 0x1040, &mx), 0);
    ASSERT_EQ(r16(h, 0x1034, &ctrl), 0);
    EXPECT_EQ(status, 0x8064);
    EXPECT_EQ(mx, 50000);
    EXPECT_EQ(ctrl, 0x0002) << "the control word is not changed by a code";
    ASSERT_EQ(w16(h, 0x1034, 0x0003), 0); // back to a control word: Pw on
    ASSERT_EQ(r16(h, 0x1038, &status), 0);
    EXPECT_EQ(status & 1, 1);
    EXPECT_EQ(close(h), 0);
}
