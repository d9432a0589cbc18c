// Connection contexts of the crate-protocol backends and the framed TCP
// transport of the crate mainframes (port 2200, 5 s connect, 20 s per
// reply). Each backend owns a table of kCrateContexts contexts; its backend
// handle is the index. The transport runs on the caller's thread; the API
// front serialises the requests of one connection with the slot's request
// lock. The frame length's byte order and the port are per context, so the
// rack supply can reuse the exchange with its own framing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "crate_protocol.h"
#include "crate_sysinfo.h"

struct sockaddr;

namespace koruhv {

constexpr int kCrateContexts = 33;
constexpr uint16_t kCratePort = 2200;

// A reply carries only its keyword, so a reply doubled or released late on
// the way to us shifts every later reply by one place, and a read takes the
// previous read's value for as long as reads follow each other closely. A
// checked request goes out with a second request of another keyword right
// behind it in the same write: the crate answers in order, so the frame
// just before the second one's reply is the request's own, and every frame
// before it is dropped. Every kReplyCheckEvery-th request is checked, so a
// shift that left no trace ends there; after any sign of a stray frame the
// next kReplyCheckSuspect requests are all checked. A check costs the
// device about one request: when requests come so fast that
// kReplyCheckEvery of them take less than kReplyCheckSpacingMs (a local
// link), checks are spaced by that time, at the latest every
// kReplyCheckLatest-th request.
constexpr unsigned kReplyCheckEvery = 16;
constexpr unsigned kReplyCheckLatest = 64;
constexpr int kReplyCheckSpacingMs = 2;
constexpr unsigned kReplyCheckSuspect = 16;

struct ReplyCheck {
    unsigned sinceCheck = 0; // requests sent since the last checked one
    unsigned suspect = 0;    // requests still to check after a stray frame
    std::chrono::steady_clock::time_point lastCheck{};
    bool due(std::chrono::steady_clock::time_point now) const
    {
        return suspect > 0 || sinceCheck + 1 >= kReplyCheckLatest ||
               (sinceCheck + 1 >= kReplyCheckEvery &&
                now - lastCheck >= std::chrono::milliseconds(kReplyCheckSpacingMs));
    }
    void checked(std::chrono::steady_clock::time_point now)
    {
        sinceCheck = 0;
        lastCheck = now;
        if (suspect)
            --suspect;
    }
    void unchecked() { ++sinceCheck; }
    void strayFrame() { suspect = kReplyCheckSuspect; }
};

// Bytes read from a command connection past the reply being read (the
// start of the next frame): kept for the next read, never dropped. The
// reply is taken with one receive of up to the buffer's size, its length
// and body together. recvTimeoutMs is the SO_RCVTIMEO this side set on the
// socket (0: none): with it a fresh reply is waited for inside the receive
// itself, with no poll before it. emptiedAt: when a receive last left the
// socket empty (it returned less than it had room for), none after a read
// that may have left bytes behind. Reset, with the connection's reply
// check, whenever the socket is closed.
struct FrameCarry {
    static constexpr size_t kSize = 16384;
    uint8_t *buf = nullptr; // kSize bytes once used
    size_t begin = 0, end = 0;
    int recvTimeoutMs = 0;
    std::chrono::steady_clock::time_point emptiedAt{};
    ReplyCheck check;
    FrameCarry() = default;
    FrameCarry(const FrameCarry &) = delete;
    FrameCarry &operator=(const FrameCarry &) = delete;
    ~FrameCarry();
    size_t buffered() const { return end - begin; }
    void reset()
    {
        begin = end = 0;
        recvTimeoutMs = 0;
        emptiedAt = {};
        check = ReplyCheck();
    }
};

struct CrateContext {
    const CommandRow *command = nullptr; // row of the request being built
    char linkText[20] = {};
    uint32_t index = 0;
    uint32_t sessionId = 0;
    int socket = -1; // -1 while closed
    CrateSystemInfo *sysInfo = nullptr;
    // Changes with every new sysInfo (unique over all contexts): what was
    // looked up in an older description is looked up again.
    uint64_t sysInfoGeneration = 0;
    int16_t status = 0;
    char message[kCrateMessageSize] = {};
    uint32_t dataOffset = 0;
    uint8_t inUse = 0;
    ByteOrder order = ByteOrder::Big; // numbers and frame length
    FrameCarry carry;                 // of the command connection
    // Set when a reply may still be on its way or was not read whole (a
    // time-out, a reply that did not echo its request, a malformed one,
    // bytes that came unasked): the next request first brings the
    // connection back in step (Crate_Exchange). late is the request whose
    // reply may still come, sent the last request that went out.
    bool outOfStep = false;
    const CommandRow *late = nullptr;
    const CommandRow *sent = nullptr;
    // Guards sysInfo and the event store of the context against the event
    // thread, which reads them without the request lock. Never held across
    // socket I/O.
    std::mutex dataLock;
};

// Index of the first context not in use; count when all are.
int Crate_FirstFreeContext(CrateContext *table, int count = kCrateContexts);

// Stores status and message (cut to the message field); returns code.
int Crate_SetError(CrateContext &ctx, int code, const char *text);

// Builds the header of ctx.command into buf (which is cleared first):
// keyword, for kind 2 ':' and the session id, ':' when the row has
// arguments. False when the buffer cannot grow.
bool Crate_BuildHeader(const CrateContext &ctx, RequestBuffer &buf);

// Parses a reply against ctx.command: status, message and data offset.
void Crate_ParseReply(CrateContext &ctx, size_t len, const uint8_t *reply);

// Opens the command connection: 0, 1 (errno text), 8 (link not "TCP/IP").
// An address that is not a dotted IPv4 address gives 1 without network.
int Crate_OpenContext(CrateContext &ctx, const char *link, const char *address, uint16_t port = 0);
// Non-blocking connect bounded by ms; 0, or -1 with errno. Never closes the
// socket (its owner does).
int Crate_ConnectWithTimeout(int sock, const struct sockaddr *addr, unsigned addrLen, int ms);

// One framed exchange without parsing: writes the length and the request
// (looping over short writes), then reads the reply (length and body in one
// receive when they fit, see FrameCarry). The reply time-out bounds the
// write, and again the reply from the moment the request is out.
// 0 with *reply (malloc'ed, caller frees) and *replyLen, or a code with the
// context's status and message set: 2 send, 3 receive or bad length, 4
// time-out, 5 peer closed (or the connection was given up), 9 memory.
// A connection out of step is first brought back in step: a request that
// the crate answers in any state ("GETSWREL", or "GETSYSNAME" when the late
// reply is one of those) goes out and every frame before its reply is
// dropped; the next requests are then checked (see ReplyCheck). When that
// fails too, or the stream itself broke (closed, a receive error, a length
// out of range, a request sent in part), the connection is shut and every
// later request gives 5: a reply is never taken for a later request.
int Crate_Exchange(CrateContext &ctx, const uint8_t *req, size_t reqLen, uint8_t **reply, size_t *replyLen);

// Socket-level frame I/O (a 32-bit length in the given order, then the
// bytes), shared by the crate and rack-supply framings. ms bounds the whole
// frame. Results are CrateIo values; errno holds the cause of an error.
enum CrateIo {
    CRATE_IO_OK = 0,
    CRATE_IO_TIMEOUT,
    CRATE_IO_ERROR,
    CRATE_IO_CLOSED,
    CRATE_IO_TOO_LONG,
    CRATE_IO_NO_MEMORY,
};
int Crate_SendFrameOn(int sock, ByteOrder order, const uint8_t *req, size_t reqLen, int ms);
// Two frames in one write (the check request behind a request).
int Crate_SendFramesOn(int sock, ByteOrder order, const uint8_t *req, size_t reqLen, const uint8_t *check,
                       size_t checkLen, int ms);
// *body is malloc'ed (caller frees) on CRATE_IO_OK only. Reads exactly the
// frame's bytes; waitFirst polls before the first read (for a caller that
// has not yet seen the socket readable).
int Crate_RecvFrameOn(int sock, ByteOrder order, int ms, uint8_t **body, size_t *len, bool waitFirst = true);
// The same on a command connection with its carry-over: bytes past the
// frame stay in carry for the next call. Sets SO_RCVTIMEO to ms on the
// socket when carry does not hold it yet, so the receive waits by itself.
int Crate_RecvFrameCarry(int sock, FrameCarry &carry, ByteOrder order, int ms, uint8_t **body, size_t *len);
// The reply of a request that went out with a check request of
// checkKeyword behind it: the frame just before the first check reply that
// follows another frame. Every other frame read is dropped and counted in
// *dropped (a check reply with nothing before it is an old one). ms bounds
// the whole.
int Crate_RecvChecked(int sock, FrameCarry &carry, ByteOrder order, int ms, std::string_view checkKeyword,
                      uint8_t **body, size_t *len, unsigned *dropped);
// Bytes wait on the command connection before a request: in the carry, or
// in the socket. The socket is looked at (a system call) unless a receive
// left it empty less than kQuietLookUs ago: then only a frame that arrived
// in those few microseconds could be there, the race a look loses whenever
// a frame takes any time on its way, and the reply checks bound what such
// a frame can shift.
constexpr int kQuietLookUs = 200;
bool Crate_BytesWaiting(int sock, const FrameCarry &carry);
// The frame is a reply to keyword: it begins with the keyword and ':'.
bool Crate_Echoes(const uint8_t *frame, size_t len, std::string_view keyword);

// Marks the command connection out of step: the next exchange brings it
// back in step first.
void Crate_MarkOutOfStep(CrateContext &ctx);

// Exchange and parse. *dataOffset 0 on entry: the reply is parsed; a
// non-zero status frees the reply and is returned (with the crate's
// message), status 0 stores the data offset. Non-zero on entry: the reply
// comes back raw. Returns 0 with *reply owned by the caller.
int Crate_Transact(CrateContext &ctx, const uint8_t *req, size_t reqLen, size_t *replyLen, uint8_t **reply,
                   uint32_t *dataOffset);

// Shuts down and closes the socket once, marks it closed and drops its
// carry-over.
int Crate_CloseContext(CrateContext &ctx);
// Frees the system information (under the data lock) and clears in use.
void Crate_ReleaseContext(CrateContext *table, int index);
void Crate_FreeSystemInfo(CrateContext &ctx);
// Replaces the system information under the data lock (frees the old one).
void Crate_SetSystemInfo(CrateContext &ctx, CrateSystemInfo *info);

// Test hooks (internal; never exported): the crate command port and the
// connect and reply time-outs. 0 restores the default.
void CrateTransport_SetPortForTest(uint16_t port);
void CrateTransport_SetTimeoutsForTest(int connectMs, int replyMs);
uint16_t CrateTransport_Port();
// The reply bound in force (20 s unless a test changed it).
int CrateTransport_ReplyMs();

} // namespace koruhv
