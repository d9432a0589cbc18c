#include "boards_support.h"

#include <dlfcn.h>

#include "api_access.h"
#include "boards/board_hooks.h"

namespace boardstest {

namespace {

template <typename T> T fn(void *lib, const char *name)
{
    return reinterpret_cast<T>(dlsym(lib, name));
}

} // namespace

void BoardsTest::SetUp()
{
    stub.lib = dlopen("libKORUComm.so", RTLD_LAZY);
    ASSERT_NE(stub.lib, nullptr) << dlerror();
    stub.reset = fn<KORUCommStub_Reset_t>(stub.lib, "KORUCommStub_Reset");
    stub.openDevices = fn<KORUCommStub_OpenDevices_t>(stub.lib, "KORUCommStub_OpenDevices");
    stub.openCount = fn<KORUCommStub_OpenCount_t>(stub.lib, "KORUCommStub_OpenCount");
    stub.attach = fn<KORUCommStub_AttachDevice_t>(stub.lib, "KORUCommStub_AttachDevice");
    stub.poke = fn<KORUCommStub_PlacePoke16_t>(stub.lib, "KORUCommStub_PlacePoke16");
    stub.peek = fn<KORUCommStub_PlacePeek16_t>(stub.lib, "KORUCommStub_PlacePeek16");
    stub.failReads = fn<KORUCommStub_FailReads_t>(stub.lib, "KORUCommStub_FailReads");
    stub.failWrites = fn<KORUCommStub_FailWrites_t>(stub.lib, "KORUCommStub_FailWrites");
    stub.readCount = fn<KORUCommStub_ReadCount_t>(stub.lib, "KORUCommStub_ReadCount");
    stub.writeCount = fn<KORUCommStub_WriteCount_t>(stub.lib, "KORUCommStub_WriteCount");
    stub.timeScale = fn<KORUCommStub_SetTimeScale_t>(stub.lib, "KORUCommStub_SetTimeScale");
    stub.openResult = fn<KORUCommStub_SetOpenResult_t>(stub.lib, "KORUCommStub_SetOpenResult");
    ASSERT_TRUE(stub.reset && stub.openDevices && stub.openCount && stub.attach && stub.poke && stub.peek &&
                stub.failReads && stub.failWrites && stub.readCount && stub.writeCount && stub.timeScale &&
                stub.openResult);
    stub.reset();
    koruhv::BoardTiming t;
    t.pollMs = 100;
    t.keepAliveMs = 400;
    t.calibrationMs = 1;
    koruhv::Board_SetTimingForTests(t);
}

void BoardsTest::TearDown()
{
    for (int h : handles)
        KORUHV_DeinitSystem(h);
    handles.clear();
    koruhv::Board_SetTimingForTests(koruhv::BoardTiming{});
    if (stub.lib) {
        EXPECT_EQ(stub.openDevices(), 0) << "every device is closed again";
        stub.reset();
        dlclose(stub.lib);
    }
}

int BoardsTest::open(int type, int link, const std::string &address, int *rc)
{
    int h = -1;
    const int code = korutest::initSystem(type, link, address, &h);
    if (rc)
        *rc = code;
    if (code == 0)
        handles.push_back(h);
    return code == 0 ? h : -1;
}

void BoardsTest::close(int handle)
{
    for (auto it = handles.begin(); it != handles.end(); ++it)
        if (*it == handle) {
            handles.erase(it);
            break;
        }
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
}

int BoardsTest::chProp(int h, unsigned short ch, const char *name, const char *prop, void *out)
{
    return KORUHV_GetChParamProp(h, 0, ch, name, prop, out);
}

} // namespace boardstest
