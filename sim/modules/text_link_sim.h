// A simulated link to text-protocol modules: a TCP listener on a loopback
// address or a pseudo-terminal, request framing (lines ending in LF, "\r\n"
// expected), fault injection per request, a request log, and a tick thread
// that drives the dialect's physics. The dialect (text_dialect.h) is
// pluggable, so every text family reuses this machinery.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modules/text_dialect.h"

namespace korusim {

// A fault applied to the replies of matching requests. The first fault in
// the list that matches a request and has uses left is consumed by it; one
// fault may combine several effects (for instance split and "\n\r").
struct Fault {
    // Request line (without line end) must contain this text. A leading '^'
    // anchors it at the start of the line, a trailing '$' at the end
    // ("PAR:RUP$" does not match "PAR:RUPMAX"). Empty matches everything.
    std::string match;
    int times = 1;                    // uses; -1 = every matching request
    bool execute = true;              // false: the device never saw the request
    bool silent = false;              // no reply at all
    int delayMs = 0;                  // pause before the first byte of the reply
    int pieces = 1;                   // reply sent in this many writes ...
    int pauseMs = 0;                  // ... with this pause between two writes
    std::string lineEnd;              // replaces "\r\n" when not empty
    std::optional<DeviceError> error; // the device's error reply of this kind instead
    std::optional<int> address;       // the reply as sent by the module at this address
    std::optional<std::string> raw;   // these bytes verbatim instead (no line end added)
    bool halfLine = false;            // only the first half of the reply line, then silence
    bool closeAfter = false;          // then close the connection (pty: hang up the master)

    static Fault silence(std::string match, int times = 1);
    static Fault delay(std::string match, int ms, int times = 1);
    // Reply that arrives after the client gave up: same as delay, the next
    // request is read only after this reply went out.
    static Fault late(std::string match, int ms, int times = 1);
    static Fault split(std::string match, int pieces, int pauseMs, int times = 1);
    static Fault swappedLineEnd(std::string match, int times = 1); // "\n\r"
    static Fault errorReply(std::string match, DeviceError kind, int times = 1);
    static Fault wrongAddress(std::string match, int address, int times = 1);
    static Fault malformed(std::string match, std::string bytes, int times = 1);
    static Fault halfLineThenSilence(std::string match, int times = 1);
    static Fault closeConnection(std::string match, int times = 1); // closes instead of replying
};

// One request as the simulator received it.
struct LoggedRequest {
    std::chrono::steady_clock::time_point at;
    int connection = 0;    // 1, 2, ... in accept order (a pty counts as one connection)
    std::string line;      // without line end
    std::string raw;       // the bytes received, line end included
    std::string reply;     // the bytes sent back (all pieces); empty when none
    std::string violation; // non-empty when the request broke the protocol
};

// Line settings of the pty as the client left them (Linux keeps 8 data bits
// and no parity on a pty whatever the client asks).
struct PtyLineSettings {
    unsigned baud = 0; // 0 when the speed is not a standard one
    int dataBits = 8;
    int stopBits = 1;
    bool parity = false;
    bool raw = false; // no echo, no canonical input, no CR/LF mapping, no output processing
    bool hardwareFlow = false;
    bool softwareFlow = false;
};

class TextLinkSim {
public:
    explicit TextLinkSim(std::shared_ptr<TextDialect> dialect);
    virtual ~TextLinkSim();
    TextLinkSim(const TextLinkSim &) = delete;
    TextLinkSim &operator=(const TextLinkSim &) = delete;

    // Listens on a loopback address (127.0.0.0/8 only); port 0 takes an
    // ephemeral port. Several clients may be connected at once. False with
    // error() on failure.
    bool startTcp(const std::string &address = "127.0.0.2", uint16_t port = 0);
    // Opens a pseudo-terminal; the client opens "/dev/" + ptyName().
    bool startPty();
    // Stops the transport and the tick thread; joins every thread. Idempotent.
    void stop();
    bool running() const;

    uint16_t port() const;       // TCP port actually bound (0 without TCP)
    std::string address() const; // TCP address bound
    std::string ptyName() const; // "pts/N" (empty without a pty)
    std::string error() const;   // last start failure
    // The pty's current line settings; false without a pty.
    bool ptySettings(PtyLineSettings &out) const;

    // Closes every client connection now (pty: hangs up and opens a new
    // pty, whose name ptyName() then gives).
    void dropConnections();
    int connectionsAccepted() const; // TCP connections so far (pty: 1 while open)
    int openConnections() const;

    // Physics: the tick thread calls the dialect's tick with the real
    // elapsed time every `period`; 0 stops it (then only advance() moves time).
    void setTickPeriod(std::chrono::milliseconds period);
    void advance(double seconds);

    void addFault(Fault fault);
    void clearFaults();
    int pendingFaults() const; // faults with uses left

    // Request log (thread-safe).
    std::vector<LoggedRequest> requests() const;
    std::vector<std::string> lines(std::string_view match = {}) const;
    size_t requestCount(std::string_view match = {}) const;
    // Waits until at least n requests matching `match` were received (a
    // request is logged on receipt, with the reply it gets, before any
    // delay); false after the timeout.
    bool waitForRequests(size_t n, std::chrono::milliseconds timeout, std::string_view match = {}) const;
    std::vector<std::string> violations() const;
    void clearLog();
    // Keeps only the newest n entries (default 100000; the program mode
    // keeps fewer, it runs for days).
    void setLogLimit(size_t n);

    TextDialect &dialect() { return *dialect_; }

    // Same matching rule as Fault::match.
    static bool lineMatches(std::string_view line, std::string_view match);

private:
    struct Impl;
    std::shared_ptr<TextDialect> dialect_;
    std::unique_ptr<Impl> impl_;
};

} // namespace korusim
