#include "l2290_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "modules/l2290_backend.h"
#include "modules/text_engine.h"

namespace l2290test {

using namespace std::chrono_literals;

void L2290Test::SetUp()
{
    // Opens are quicker without the unit's settling pauses; the polling
    // period and the keep-alive stay the shipped ones.
    koruhv::TextTiming t;
    t.rowPauseMs = 0;
    t.tcpSettleMs = 0;
    koruhv::Text_SetTimingForTests(t);
}

void L2290Test::TearDown()
{
    for (int h : handles)
        KORUHV_DeinitSystem(h);
    handles.clear();
    if (sim) {
        EXPECT_TRUE(sim->violations().empty()) << sim->violations().front();
        sim->stop();
    }
    koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
    koruhv::L2290_SetTcpPortForTests(0);
}

void L2290Test::startTcp(std::vector<korusim::L2290Module> modules)
{
    sim = std::make_unique<korusim::L2290Sim>(std::move(modules));
    ASSERT_TRUE(sim->startTcp("127.0.0.2", 0)) << sim->error();
    koruhv::L2290_SetTcpPortForTests(sim->port());
}

void L2290Test::startPty(std::vector<korusim::L2290Module> modules)
{
    sim = std::make_unique<korusim::L2290Sim>(std::move(modules));
    ASSERT_TRUE(sim->startPty()) << sim->error();
}

int L2290Test::open(const std::string &address, int link)
{
    int h = -1;
    std::vector<char> text(address.begin(), address.end());
    text.push_back('\0');
    const int rc = KORUHV_InitSystem(kSystemType, link, text.data(), "", "", &h);
    EXPECT_EQ(rc, 0) << address;
    if (rc == 0)
        handles.push_back(h);
    return h;
}

void L2290Test::close(int handle)
{
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
    std::erase(handles, handle);
}

float L2290Test::getFloat(int h, const char *name, unsigned short ch, int *rc)
{
    float v = -12345.0f;
    const int r = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

int L2290Test::getInt(int h, const char *name, unsigned short ch, int *rc)
{
    int32_t v = -12345;
    const int r = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

int L2290Test::setFloat(int h, const char *name, unsigned short ch, float v)
{
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &v);
}

int L2290Test::setInt(int h, const char *name, unsigned short ch, int v)
{
    int32_t x = v;
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &x);
}

int L2290Test::getBoardInt(int h, const char *name, int *rc)
{
    unsigned short slot = 0;
    int32_t v = -12345;
    const int r = KORUHV_GetBdParam(h, 1, &slot, name, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

int L2290Test::setBoardInt(int h, const char *name, int v)
{
    unsigned short slot = 0;
    int32_t x = v;
    return KORUHV_SetBdParam(h, 1, &slot, name, &x);
}

EventServer::EventServer()
{
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
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

int pollThreadCount()
{
    int n = 0;
    DIR *d = ::opendir("/proc/self/task");
    if (!d)
        return -1;
    while (dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == "L2290 poll")
            ++n;
    }
    ::closedir(d);
    return n;
}

const EventRecord *find(const Batch &b, const char *name, int channel)
{
    for (const EventRecord &r : b.records)
        if (std::strncmp(r.name, name, sizeof r.name) == 0 && r.channel == channel)
            return &r;
    return nullptr;
}

} // namespace l2290test
