// The register families' shared core on its own: the item walk of a
// subscribe or unsubscribe call (which items reach the family, which result
// byte each gets, when a call is taken back) and the parameter properties.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "boards/register_board.h"

using namespace koruhv;

namespace {

// Accepts the parameter "Ok" only and notes every call.
class Recorder : public RegisterItems {
public:
    bool apply(int channel, const char *param) override
    {
        calls.emplace_back(channel, param);
        return std::strcmp(param, "Ok") == 0;
    }
    void takeBack() override { ++takenBack; }
    void done() override { ++finished; }

    std::vector<std::pair<int, std::string>> calls;
    int takenBack = 0, finished = 0;
};

// A loopback port nothing listens on.
unsigned short closedPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    EXPECT_EQ(::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len), 0);
    ::close(s);
    return ntohs(a.sin_port);
}

} // namespace

TEST(RegisterBoardItems, EachItemGetsItsResultByte)
{
    const std::string tooLong = "S.Board00.CHAN000." + std::string(100, 'x');
    const struct {
        const char *item;
        char result; // the caller's byte is 7
        int channel; // the family's call; -2 none
        const char *param;
    } cases[] = {
        {"S.Board00.CHAN001.Ok", 0, 1, "Ok"},
        {"S.Board00.Ok", 0, -1, "Ok"},
        {"S.Board00.CHAN002.No", char(255), 2, "No"},
        {"S.Ok", 7, -2, ""}, // a system item is not the family's
        {tooLong.c_str(), char(255), -2, ""},
    };
    std::string items;
    for (const auto &c : cases)
        items += std::string(items.empty() ? "" : ":") + c.item;
    RegisterBoard dev;
    dev.inUse = true;
    Recorder family;
    char results[std::size(cases)];
    std::memset(results, 7, sizeof results);
    ASSERT_EQ(RegisterBoard_Items(&dev, BackendRef{0, nullptr, -1}, false, 0, uint16_t(std::size(cases)),
                                  items.c_str(), results, family),
              BD_OK);
    size_t call = 0;
    for (size_t k = 0; k < std::size(cases); ++k) {
        EXPECT_EQ(results[k], cases[k].result) << cases[k].item;
        if (cases[k].channel == -2)
            continue;
        ASSERT_LT(call, family.calls.size());
        EXPECT_EQ(family.calls[call].first, cases[k].channel) << cases[k].item;
        EXPECT_EQ(family.calls[call].second, cases[k].param) << cases[k].item;
        ++call;
    }
    EXPECT_EQ(call, family.calls.size());
    EXPECT_EQ(family.finished, 1);
    EXPECT_EQ(family.takenBack, 0);
}

TEST(RegisterBoardItems, RefusedCallsLeaveTheFamilyAlone)
{
    RegisterBoard dev;
    char results[2] = {};
    const struct {
        bool open;
        uint16_t count;
        int rc;
    } cases[] = {
        {false, 2, BD_NOT_OPEN}, {true, 3, BD_COUNT_MISMATCH}, // two items, three claimed
    };
    for (const auto &c : cases) {
        dev.inUse = c.open;
        Recorder family;
        EXPECT_EQ(RegisterBoard_Items(&dev, BackendRef{0, nullptr, -1}, true, 0, c.count,
                                      "S.Board00.Ok:S.Board00.CHAN000.Ok", results, family),
                  c.rc);
        EXPECT_TRUE(family.calls.empty());
        EXPECT_EQ(family.finished + family.takenBack, 0);
    }
}

TEST(RegisterBoardItems, UnreachableSubscriberTakesTheSubscribeBack)
{
    RegisterBoard dev;
    dev.inUse = true;
    Recorder family;
    char results[1] = {};
    EXPECT_EQ(RegisterBoard_Items(&dev, BackendRef{0, nullptr, -1}, true, short(closedPort()), 1,
                                  "S.Board00.Ok", results, family),
              BD_EVENT_SOCKET);
    EXPECT_EQ(family.calls.size(), 1u);
    EXPECT_EQ(family.takenBack, 1);
    EXPECT_EQ(family.finished, 0);
    EXPECT_LT(dev.events.sock, 0);
}

TEST(BoardParamProperty, GivesWhatTheParameterHas)
{
    BoardParamFacts f;
    f.type = 1;
    f.writable = true;
    f.minimum = 1.5f;
    f.maximum = 300.0f;
    f.unit = 2;
    f.exponent = -3;
    f.decimals = 1;
    f.onText = "On";
    f.offText = "Off";
    BoardParamFacts board = f; // a board parameter: no state texts
    board.onText = board.offText = nullptr;
    BoardParamFacts readOnly = f;
    readOnly.writable = false;

    enum Kind { I32, F32, I16, TEXT, NONE };
    const struct {
        const BoardParamFacts *facts;
        const char *prop;
        Kind kind;
        double number;
        const char *text;
    } cases[] = {
        {&f, "Type", I32, 1, ""},         {&f, "Mode", I32, 2, ""},         {&readOnly, "Mode", I32, 0, ""},
        {&f, "Minval", F32, 1.5, ""},     {&f, "Maxval", F32, 300, ""},     {&f, "Unit", I16, 2, ""},
        {&f, "Exp", I16, -3, ""},         {&f, "Decimal", I16, 1, ""},      {&f, "Onstate", TEXT, 0, "On"},
        {&f, "Offstate", TEXT, 0, "Off"}, {&board, "Onstate", NONE, 0, ""}, {&board, "Offstate", NONE, 0, ""},
        {&f, "Colour", NONE, 0, ""},      {&f, nullptr, NONE, 0, ""},
    };
    for (const auto &c : cases) {
        const std::string what = c.prop ? c.prop : "(none)";
        char out[32];
        std::memset(out, 0x5A, sizeof out);
        const int rc = Board_ParamProperty(*c.facts, c.prop, out);
        if (c.kind == NONE) {
            EXPECT_EQ(rc, BD_NO_PROPERTY) << what;
            EXPECT_EQ(out[0], 0x5A) << what;
            continue;
        }
        ASSERT_EQ(rc, BD_OK) << what;
        int32_t i32;
        float f32;
        int16_t i16;
        std::memcpy(&i32, out, 4);
        std::memcpy(&f32, out, 4);
        std::memcpy(&i16, out, 2);
        if (c.kind == I32)
            EXPECT_EQ(i32, int32_t(c.number)) << what;
        else if (c.kind == F32)
            EXPECT_FLOAT_EQ(f32, float(c.number)) << what;
        else if (c.kind == I16)
            EXPECT_EQ(i16, int16_t(c.number)) << what;
        else
            EXPECT_STREQ(out, c.text) << what;
    }
    EXPECT_EQ(Board_ParamProperty(f, "Type", nullptr), BD_NO_PROPERTY);
}
