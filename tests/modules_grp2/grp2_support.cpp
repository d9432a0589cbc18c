#include "grp2_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "local_events_hooks.h"
#include "modules/text_engine.h"

namespace grp2test {

void Grp2Test::SetUp()
{
    koruhv::TextTiming t;
    t.rowPauseMs = 0;
    t.tcpSettleMs = 0;
    t.pollMs = 200;
    koruhv::Text_SetTimingForTests(t);
}

void Grp2Test::TearDown()
{
    for (int h : handles)
        KORUHV_DeinitSystem(h);
    handles.clear();
    koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
}

int Grp2Test::open(int systemType, const std::string &address, int link, int expectRc)
{
    int h = -1;
    std::vector<char> text(address.begin(), address.end());
    text.push_back('\0');
    const int rc = KORUHV_InitSystem(systemType, link, text.data(), "", "", &h);
    EXPECT_EQ(rc, expectRc) << address;
    if (rc == 0)
        handles.push_back(h);
    return h;
}

void Grp2Test::close(int handle)
{
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
    handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
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
        std::string s;
        std::getline(comm, s);
        n += s == name;
    }
    ::closedir(d);
    return n;
}

namespace {

template <typename T> T getCh(int h, const char *name, unsigned short ch, int *rc)
{
    T v{};
    std::memset(&v, 0xA5, sizeof v);
    const int r = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

template <typename T> T getBd(int h, const char *name, int *rc)
{
    unsigned short slot = 0;
    T v{};
    std::memset(&v, 0xA5, sizeof v);
    const int r = KORUHV_GetBdParam(h, 1, &slot, name, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

std::vector<std::string> slots10(char *list)
{
    std::vector<std::string> out;
    for (const char *p = list; p && *p; p += 10)
        out.emplace_back(p, strnlen(p, 10));
    KORUHV_Free(list);
    return out;
}

} // namespace

float getChFloat(int h, const char *name, unsigned short ch, int *rc)
{
    return getCh<float>(h, name, ch, rc);
}
int getChInt(int h, const char *name, unsigned short ch, int *rc)
{
    return getCh<int32_t>(h, name, ch, rc);
}
int setChFloat(int h, const char *name, unsigned short ch, float v)
{
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &v);
}
int setChInt(int h, const char *name, unsigned short ch, int v)
{
    int32_t x = v;
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &x);
}
float getBdFloat(int h, const char *name, int *rc)
{
    return getBd<float>(h, name, rc);
}
int getBdInt(int h, const char *name, int *rc)
{
    return getBd<int32_t>(h, name, rc);
}
int setBdFloat(int h, const char *name, float v)
{
    unsigned short slot = 0;
    return KORUHV_SetBdParam(h, 1, &slot, name, &v);
}
int setBdInt(int h, const char *name, int v)
{
    unsigned short slot = 0;
    int32_t x = v;
    return KORUHV_SetBdParam(h, 1, &slot, name, &x);
}

std::vector<std::string> boardParams(int h)
{
    char *list = nullptr;
    EXPECT_EQ(KORUHV_GetBdParamInfo(h, 0, &list), 0);
    return slots10(list);
}

std::vector<std::string> channelParams(int h, unsigned short ch, int *rc)
{
    char *list = nullptr;
    int count = -1;
    const int r = KORUHV_GetChParamInfo(h, 0, ch, &list, &count);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0);
    std::vector<std::string> names = slots10(list);
    if (r == 0) {
        EXPECT_EQ(static_cast<size_t>(count), names.size());
    }
    return names;
}

int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n)
{
    char results[32] = {};
    const int rc = KORUHV_SubscribeChannelParams(h, port, 0, ch, names, n, results);
    for (unsigned i = 0; rc == 0 && i < n; ++i)
        EXPECT_EQ(results[i], 0) << names;
    return rc;
}

int unsubscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n)
{
    char results[32] = {};
    return KORUHV_UnSubscribeChannelParams(h, port, 0, ch, names, n, results);
}

int subscribeBoard(int h, short port, const char *names, unsigned n)
{
    char results[32] = {};
    const int rc = KORUHV_SubscribeBoardParams(h, port, 0, names, n, results);
    for (unsigned i = 0; rc == 0 && i < n; ++i)
        EXPECT_EQ(results[i], 0) << names;
    return rc;
}

} // namespace grp2test
