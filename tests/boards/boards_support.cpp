#include "boards_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

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
    const int code = KORUHV_InitSystem(type, link, const_cast<char *>(address.c_str()), "", "", &h);
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

float BoardsTest::getFloat(int h, const char *name, unsigned short ch, int *rc)
{
    float v = -12345.0f;
    const int code = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = code;
    else
        EXPECT_EQ(code, 0) << name;
    return v;
}

int BoardsTest::getInt(int h, const char *name, unsigned short ch, int *rc)
{
    int32_t v = -12345;
    const int code = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = code;
    else
        EXPECT_EQ(code, 0) << name;
    return v;
}

int BoardsTest::setFloat(int h, const char *name, unsigned short ch, float v)
{
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &v);
}

int BoardsTest::setInt(int h, const char *name, unsigned short ch, int v)
{
    int32_t x = v;
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &x);
}

int BoardsTest::chProp(int h, unsigned short ch, const char *name, const char *prop, void *out)
{
    return KORUHV_GetChParamProp(h, 0, ch, name, prop, out);
}

EventServer::EventServer()
{
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(listen_, 8), 0);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
}

EventServer::~EventServer()
{
    closeListener();
    for (int fd : accepted_)
        ::close(fd);
}

void EventServer::closeListener()
{
    if (listen_ >= 0)
        ::close(listen_);
    listen_ = -1;
}

void EventServer::drop(int fd)
{
    for (auto it = accepted_.begin(); it != accepted_.end(); ++it)
        if (*it == fd) {
            accepted_.erase(it);
            ::close(fd);
            return;
        }
}

int EventServer::accept(std::chrono::milliseconds within, std::string *ident)
{
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(within.count())) != 1)
        return -1;
    const int fd = ::accept(listen_, nullptr, nullptr);
    if (fd < 0)
        return -1;
    accepted_.push_back(fd);
    std::string text;
    const auto end = std::chrono::steady_clock::now() + within;
    while (text.size() < 200 && std::chrono::steady_clock::now() < end) {
        pollfd q{fd, POLLIN, 0};
        if (::poll(&q, 1, 100) != 1)
            continue;
        char c;
        if (::recv(fd, &c, 1, 0) != 1)
            break;
        if (c == '\0') {
            if (ident)
                *ident = text;
            return fd;
        }
        text.push_back(c);
    }
    if (ident)
        *ident = "<no identification: " + text + ">";
    return fd;
}

Batch EventServer::read(int fd)
{
    Batch b;
    KORUHV_SYSTEMSTATUS_t status;
    EventRecord *events = nullptr;
    int count = 0;
    b.rc = KORUHV_GetEventData(fd, &status, &events, &count);
    if (b.rc == 0) {
        b.records.assign(events, events + count);
        KORUHV_FreeEventData(&events);
    }
    return b;
}

bool EventServer::closedWithin(int fd, std::chrono::milliseconds within)
{
    const auto end = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) != 1)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return true;
    }
    return false;
}

const EventRecord *find(const Batch &b, const char *name, int channel)
{
    for (const EventRecord &r : b.records)
        if (std::strncmp(r.name, name, sizeof r.name) == 0 && r.channel == channel)
            return &r;
    return nullptr;
}

int threadCount()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/task")) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

} // namespace boardstest
