// A raw client for the simulator self-tests: bytes over a loopback socket or
// a pseudo-terminal, every wait bounded, and the simulator program run as a
// child process.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include <cstdint>

#include "wait_progress.h"

namespace rawlink {

int connectTo(const std::string &address, uint16_t port);
int openPtySlave(const std::string &name); // "pts/N", raw line
bool isPtsName(const std::string &s);
// Reads until the text ends in `end`, the peer closes or timeoutMs passed.
std::string readReply(int fd, int timeoutMs, const std::string &end = "\r\n");
// Sends request + CR LF and reads one reply line.
std::string ask(int fd, const std::string &request, int timeoutMs = koru_test::kHangGuardMs);

// Runs the simulator program with `args`; its stdout is readable on `out`.
pid_t spawnSim(const std::vector<std::string> &args, int &out);
// Exit code (128 + signal when killed); -1 after a hang (killed then).
int waitExit(pid_t pid);

} // namespace rawlink

namespace korusim {
class TextLinkSim;
}

namespace rawlink {

// One request and the exact reply line it must get ("" = no reply at all),
// and whether the simulator must log it as a protocol violation.
struct Exchange {
    const char *request;
    const char *reply;
    bool violation = false;
};

// Runs the exchanges in order on `fd` and checks replies and violations
// (gtest expectations, the failing request named).
void expectExchanges(korusim::TextLinkSim &sim, int fd, const std::vector<Exchange> &cases);

} // namespace rawlink
