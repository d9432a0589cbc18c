#include "event_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace korutest {

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

namespace {

// The local port of a loopback TCP socket, or 0.
unsigned short localPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0 || a.sin_family != AF_INET)
        return 0;
    return ntohs(a.sin_port);
}

} // namespace

EventServer::LibraryEnd EventServer::libraryEnd(int fd)
{
    LibraryEnd end;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) != 0)
        return end;
    for (int d = 0; d < 4096 && end.fd < 0; ++d)
        if (d != fd && localPort(d) == ntohs(peer.sin_port)) {
            end.fd = d;
            end.port = ntohs(peer.sin_port);
        }
    return end;
}

bool EventServer::isOpen(const LibraryEnd &end)
{
    return end.fd >= 0 && localPort(end.fd) == end.port;
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

namespace {

int countThreads(const char *name)
{
    int n = 0;
    DIR *d = ::opendir("/proc/self/task");
    if (!d)
        return -1;
    while (dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        if (!name) {
            ++n;
            continue;
        }
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string line;
        std::getline(comm, line);
        n += line == name;
    }
    ::closedir(d);
    return n;
}

} // namespace

int threadCount(const char *name)
{
    return countThreads(name);
}

int threadCount()
{
    const int n = countThreads(nullptr);
    return n < 0 ? 0 : n;
}

} // namespace korutest
