// The keyword command protocol shared by the crate mainframes of both
// generations and the rack supply: command and property tables, request
// building, reply parsing, status texts, bounds-checked reading of reply
// data, numeric scaling and the subscription item encoder. Plain data and
// pure functions; the byte order is a parameter because the rack supply
// speaks the same protocol little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace koruhv {

enum class ByteOrder { Big, Little };

// Protocol generations: selects the system-property table.
enum CrateGeneration { CRATE_GEN_FIRST = 0, CRATE_GEN_CURRENT = 1 };

// Reply kinds of a command row.
enum CrateReplyKind {
    REPLY_MESSAGE = 0,
    REPLY_VALUES = 1,
    REPLY_IDS = 2,
    REPLY_COMPOSITION = 3,
    REPLY_BOARD_MAP = 4,
    REPLY_SESSION_LOG = 5,
    REPLY_SYSINFO = 9,
};

struct CommandRow {
    const char *keyword;
    int32_t headerKind; // 1 keyword alone (logins), 2 keyword ':' session id
    int32_t argCount;   // > 0: the header ends with ':'
    int32_t replyKind;  // CrateReplyKind
};

enum PropertyAccess : uint8_t { PROP_READ = 0, PROP_READ_WRITE = 2, PROP_EXEC = 3, PROP_END = 255 };

struct PropertyRow {
    const char *name;
    uint8_t access;
    const char *setKeyword;
    const char *getKeyword;
    const char *execKeyword;
    uint32_t available; // 0: known but not served yet
    uint32_t index;     // decoding index
};

// Status codes and texts the crate backends and the transport raise. The
// texts are the system's own, spelling included.
enum CrateStatus {
    CRATE_OK = 0,
    CRATE_ERR_CONNECT = 1,
    CRATE_ERR_SEND = 2,
    CRATE_ERR_RECEIVE = 3,
    CRATE_ERR_TIMEOUT = 4,
    CRATE_ERR_SERVER_DOWN = 5,
    CRATE_ERR_SLOT_NOT_PRESENT = 7,
    CRATE_ERR_NOT_TCP = 8,
    CRATE_ERR_NO_MEMORY = 9,
    CRATE_ERR_OUT_OF_RANGE = 10,
    CRATE_ERR_EXEC_NOT_AVAILABLE = 11,
    CRATE_ERR_PROP_NOT_AVAILABLE = 12,
    CRATE_ERR_PROP_NOT_FOUND = 14,
    CRATE_ERR_EXEC_NOT_FOUND = 15,
    CRATE_ERR_NO_SYS_PROP = 16,
    CRATE_ERR_NO_GET_PROP = 17,
    CRATE_ERR_NO_SET_PROP = 18,
    CRATE_ERR_NO_EXEC = 19,
    CRATE_ERR_CONFIG_CHANGED = 20,
    CRATE_ERR_PARAM_PROP_NOT_FOUND = 21,
    CRATE_ERR_PARAM_NOT_FOUND = 22,
    CRATE_ERR_NO_ECHO = -1,
};

extern const char kTextOk[];                // "ok"
extern const char kTextTimeout[];           // "Timeout from server"
extern const char kTextServerDown[];        // "KFE server down"
extern const char kTextSlotNotPresent[];    // "Slot NOT Present"
extern const char kTextNotTcp[];            // RS232 text
extern const char kTextNoMemoryTransport[]; // transport out of memory
extern const char kTextNoMemorySysInfo[];   // system information out of memory
extern const char kTextOutOfRange[];        // "Value out of range"
extern const char kTextExecNotAvailable[];
extern const char kTextPropNotAvailable[];
extern const char kTextPropNotFound[];
extern const char kTextExecNotFound[];
extern const char kTextNoSysProp[];
extern const char kTextNoGetProp[];
extern const char kTextNoSetProp[];
extern const char kTextNoExec[];
extern const char kTextConfigChanged[]; // "System configuration is change"
extern const char kTextParamPropNotFound[];
extern const char kTextParamNotFound[];
// Our own texts for replies that are too short for what they announce.
extern const char kTextMalformedReply[];
extern const char kTextReplyTooLong[];
extern const char kTextEventBatchTooLarge[]; // more records than one batch may make
extern const char kTextNoEncoding[];         // write to a parameter type without a raw form

// Largest frame accepted from a crate (request or reply body).
constexpr uint32_t kCrateMaxFrame = 16u * 1024u * 1024u;
// Message field of a context: at most 257 characters and the NUL.
constexpr size_t kCrateMessageSize = 258;

// Lookups. Crate_FindCommand searches the first-generation table, then the
// current-generation one. Crate_FindProperty never returns the end row.
const CommandRow *Crate_FindCommand(std::string_view keyword);
const PropertyRow *Crate_FindProperty(int generation, const char *name);
// The property table of a generation (ends with the row "Nothing"), or null.
const PropertyRow *Crate_PropertyTable(int generation);
// Rows of a command table (0 first, 1 current generation), ended by an
// empty keyword; for tests and walks.
const CommandRow *Crate_CommandTable(int generation);

// Parameter-property names: "Type" 0 ... "Decimal" 9; -1 when unknown.
int Crate_ParamPropertyIndex(const char *name);

inline void Crate_Store16(uint8_t *p, uint16_t v, ByteOrder o)
{
    p[o == ByteOrder::Big ? 0 : 1] = uint8_t(v >> 8);
    p[o == ByteOrder::Big ? 1 : 0] = uint8_t(v);
}
inline void Crate_Store32(uint8_t *p, uint32_t v, ByteOrder o)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (o == ByteOrder::Big ? 24 - 8 * i : 8 * i));
}

// Growable request bytes. Sizes are size_t and every append checks the
// frame limit, so nothing wraps; a failed append (limit or memory) leaves
// the buffer as it was and returns false. A short request stays in the
// buffer's own storage; a longer one moves to the heap.
class RequestBuffer {
public:
    explicit RequestBuffer(ByteOrder order = ByteOrder::Big) : order_(order) {}
    ~RequestBuffer();
    RequestBuffer(const RequestBuffer &) = delete;
    RequestBuffer &operator=(const RequestBuffer &) = delete;

    // The appends are inline: every request is made of a few of them.
    bool put16(uint16_t v) // value and ':'
    {
        uint8_t b[3] = {0, 0, ':'};
        Crate_Store16(b, v, order_);
        return raw(b, 3);
    }
    bool put32(uint32_t v) // value and ':'
    {
        uint8_t b[5] = {0, 0, 0, 0, ':'};
        Crate_Store32(b, v, order_);
        return raw(b, 5);
    }
    bool putBytes(const void *p, size_t n); // bytes and ':'
    bool raw(const void *p, size_t n)       // bytes alone
    {
        if (n > cap_ - len_ && !grow(n))
            return false;
        if (n)
            std::memcpy(data_ + len_, p, n);
        len_ += n;
        return true;
    }
    bool raw8(uint8_t v) { return raw(&v, 1); }
    bool raw16(uint16_t v) // value alone
    {
        uint8_t b[2];
        Crate_Store16(b, v, order_);
        return raw(b, 2);
    }
    bool raw32(uint32_t v) // value alone
    {
        uint8_t b[4];
        Crate_Store32(b, v, order_);
        return raw(b, 4);
    }
    bool colon() { return raw8(':'); }
    bool text(const char *s); // text without terminator

    const uint8_t *data() const { return data_; }
    size_t size() const { return len_; }
    uint8_t *mutableData() { return data_; }
    ByteOrder order() const { return order_; }
    void clear();

private:
    static constexpr size_t kInline = 96;
    bool grow(size_t extra); // room for extra more bytes: false past the frame limit or memory
    ByteOrder order_;
    uint8_t inline_[kInline];
    uint8_t *data_ = inline_;
    size_t len_ = 0;
    size_t cap_ = kInline;
};

// Bounds-checked reader over reply or event bytes. Every read checks the
// remaining length; a read past the end sets a sticky failure flag and
// yields zeros, so callers test ok() once after a group of reads.
class ByteCursor {
public:
    ByteCursor(const uint8_t *p, size_t n, ByteOrder order = ByteOrder::Big) : p_(p), n_(n), order_(order) {}
    // The readers are inline: event batches call them for every item.
    uint8_t u8() { return need(1) ? p_[pos_++] : 0; }
    int8_t s8() { return static_cast<int8_t>(u8()); }
    inline uint16_t u16();
    int16_t s16() { return static_cast<int16_t>(u16()); }
    inline uint32_t u32();
    bool expect(uint8_t c); // the next byte must be c
    bool skip(size_t n);
    // Bytes up to (not including) the next delim; the cursor moves past the
    // delimiter. No delimiter before the end fails.
    bool until(uint8_t delim, std::string_view *out);
    // n bytes as a view.
    bool take(size_t n, std::string_view *out)
    {
        if (!need(n))
            return false;
        if (out)
            *out = std::string_view(reinterpret_cast<const char *>(p_ + pos_), n);
        pos_ += n;
        return true;
    }
    std::string_view rest() const; // remaining bytes, not consumed
    size_t remaining() const { return pos_ <= n_ ? n_ - pos_ : 0; }
    size_t pos() const { return pos_; }
    bool ok() const { return ok_; }
    void fail() { ok_ = false; }

private:
    bool need(size_t n)
    {
        if (!ok_ || remaining() < n) {
            ok_ = false;
            return false;
        }
        return true;
    }
    const uint8_t *p_;
    size_t n_;
    size_t pos_ = 0;
    ByteOrder order_;
    bool ok_ = true;
};

// Byte order helpers.
inline uint16_t Crate_Load16(const uint8_t *p, ByteOrder o)
{
    return o == ByteOrder::Big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}
inline uint32_t Crate_Load32(const uint8_t *p, ByteOrder o)
{
    if (o == ByteOrder::Big)
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

inline uint16_t ByteCursor::u16()
{
    if (!need(2))
        return 0;
    uint16_t v = Crate_Load16(p_ + pos_, order_);
    pos_ += 2;
    return v;
}

inline uint32_t ByteCursor::u32()
{
    if (!need(4))
        return 0;
    uint32_t v = Crate_Load32(p_ + pos_, order_);
    pos_ += 4;
    return v;
}

// Copies text into a caller buffer of cap bytes, cut to cap - 1 characters
// and NUL-terminated (nothing when cap is 0).
void Crate_CopyText(char *dst, size_t cap, std::string_view text);

// Encodes a ':'-joined subscription item list: per item its kind and
// numbers (16-bit, each followed by ':'), then the parameter name and ':'.
// The final ':' becomes a NUL; *len is the full length. 0, or -1 when the
// list does not hold exactly count items (or memory runs out). The caller
// frees *out with free().
int Crate_EncodeSubscribeList(unsigned count, const char *items, ByteOrder order, uint8_t **out, size_t *len);

// Hands an encoded item list over (malloc'ed, at least one byte): the
// buffer's bytes with its last one, the ':' after the last item, made a
// NUL; *len is the full length. 0, or -1 when memory runs out.
int Crate_TakeList(const RequestBuffer &buf, uint8_t **out, size_t *len);

// Number of ':'-separated items in a list (one more than the colons).
unsigned Crate_CountItems(const char *items);

} // namespace koruhv
