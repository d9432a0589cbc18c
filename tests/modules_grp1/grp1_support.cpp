#include "grp1_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "modules/text_engine.h"

namespace grp1test {

void FamilyTest::SetUp()
{
    // Opens are quicker without the units' settling pauses; polling period
    // and keep-alive stay the shipped ones.
    koruhv::TextTiming t;
    t.rowPauseMs = 0;
    t.tcpSettleMs = 0;
    koruhv::Text_SetTimingForTests(t);
}

void FamilyTest::TearDown()
{
    for (int h : handles)
        KORUHV_DeinitSystem(h);
    handles.clear();
    if (sim) {
        const auto v = sim->violations();
        EXPECT_TRUE(v.empty()) << v.front();
        sim->stop();
    }
    koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
    setPort_(0);
}

void FamilyTest::startTcp(std::unique_ptr<korusim::TextLinkSim> s)
{
    sim = std::move(s);
    ASSERT_TRUE(sim->startTcp("127.0.0.2", 0)) << sim->error();
    setPort_(sim->port());
}

void FamilyTest::startPty(std::unique_ptr<korusim::TextLinkSim> s)
{
    sim = std::move(s);
    ASSERT_TRUE(sim->startPty()) << sim->error();
}

int FamilyTest::tryOpen(const std::string &address, int link, int *handle)
{
    *handle = -1;
    std::vector<char> text(address.begin(), address.end());
    text.push_back('\0');
    const int rc = KORUHV_InitSystem(type_, link, text.data(), "", "", handle);
    if (rc == 0)
        handles.push_back(*handle);
    return rc;
}

int FamilyTest::open(const std::string &address, int link)
{
    int h = -1;
    EXPECT_EQ(tryOpen(address, link, &h), 0) << address;
    return h;
}

void FamilyTest::close(int handle)
{
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
    std::erase(handles, handle);
}

float FamilyTest::getFloat(int h, const char *name, unsigned short ch, int *rc)
{
    float v = -12345.0f;
    const int r = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

int FamilyTest::getInt(int h, const char *name, unsigned short ch, int *rc)
{
    int32_t v = -12345;
    const int r = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

int FamilyTest::setFloat(int h, const char *name, unsigned short ch, float v)
{
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &v);
}

int FamilyTest::setInt(int h, const char *name, unsigned short ch, int v)
{
    int32_t x = v;
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &x);
}

int FamilyTest::getBoardInt(int h, const char *name, int *rc)
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

float FamilyTest::getBoardFloat(int h, const char *name, int *rc)
{
    unsigned short slot = 0;
    float v = -12345.0f;
    const int r = KORUHV_GetBdParam(h, 1, &slot, name, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

int FamilyTest::setBoardInt(int h, const char *name, int v)
{
    unsigned short slot = 0;
    int32_t x = v;
    return KORUHV_SetBdParam(h, 1, &slot, name, &x);
}

int FamilyTest::setBoardFloat(int h, const char *name, float v)
{
    unsigned short slot = 0;
    return KORUHV_SetBdParam(h, 1, &slot, name, &v);
}

namespace {

std::vector<std::string> slots10(const char *list)
{
    std::vector<std::string> out;
    for (const char *p = list; p && *p; p += 10)
        out.emplace_back(p, strnlen(p, 10));
    return out;
}

} // namespace

std::vector<std::string> FamilyTest::boardParams(int h)
{
    char *list = nullptr;
    EXPECT_EQ(KORUHV_GetBdParamInfo(h, 0, &list), 0);
    std::vector<std::string> out = slots10(list);
    KORUHV_Free(list);
    return out;
}

std::vector<std::string> FamilyTest::channelParams(int h, unsigned short ch, int *rc)
{
    char *list = nullptr;
    int n = -1;
    const int r = KORUHV_GetChParamInfo(h, 0, ch, &list, &n);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0);
    std::vector<std::string> out = slots10(list);
    if (r == 0) {
        EXPECT_EQ(static_cast<size_t>(n), out.size());
    }
    KORUHV_Free(list);
    return out;
}

std::string FamilyTest::lastRequest(const std::string &match)
{
    const std::vector<std::string> l = sim->lines(match);
    return l.empty() ? std::string() : l.back();
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
    if (listen_ >= 0)
        ::close(listen_);
    for (int fd : accepted_)
        ::close(fd);
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
            *ident = text;
            return fd;
        }
        text.push_back(c);
    }
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
        if (::recv(fd, buf, sizeof buf, 0) <= 0)
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

int threadCount(const char *name)
{
    int n = 0;
    DIR *d = ::opendir("/proc/self/task");
    if (!d)
        return -1;
    while (dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string line;
        std::getline(comm, line);
        if (line == name)
            ++n;
    }
    ::closedir(d);
    return n;
}

int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n)
{
    char results[32] = {};
    return KORUHV_SubscribeChannelParams(h, port, 0, ch, names, n, results);
}

int subscribeBoard(int h, short port, const char *names, unsigned n)
{
    char results[32] = {};
    return KORUHV_SubscribeBoardParams(h, port, 0, names, n, results);
}

int unsubscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n)
{
    char results[32] = {};
    return KORUHV_UnSubscribeChannelParams(h, port, 0, ch, names, n, results);
}

} // namespace grp1test
