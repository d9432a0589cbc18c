// Item names, the tokenizer and the level subscriptions built on them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "item_name.h"
#include "test_backends.h"

using namespace koruhv;

TEST(ItemNameTest, WriterForms)
{
    char out[128];
    EXPECT_EQ(WriteItemName(out, sizeof out, LEVEL_SYSTEM, "S", 0, 0, "HVFanStat"), 11);
    EXPECT_STREQ(out, "S.HVFanStat");
    WriteItemName(out, sizeof out, LEVEL_BOARD, "S", 5, 0, "BdStatus");
    EXPECT_STREQ(out, "S.Board005.BdStatus");
    WriteItemName(out, sizeof out, LEVEL_CHANNEL, "S", 5, 12, "VMon");
    EXPECT_STREQ(out, "S.Board05.CHAN012.VMon");
    WriteItemName(out, sizeof out, LEVEL_CHANNEL, "S", 123, 4567, "VMon");
    EXPECT_STREQ(out, "S.Board123.CHAN4567.VMon");
    EXPECT_EQ(WriteItemName(out, 8, LEVEL_BOARD, "S", 5, 0, "BdStatus"), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(WriteItemName(out, sizeof out, 7, "S", 0, 0, "X"), -1);
}

namespace {

struct ParseCase {
    std::string item;
    int kind;
    int board;   // -99: not written
    int channel; // -99: not written
    std::string param;
};

} // namespace

TEST(ItemNameTest, ParserTable)
{
    const ParseCase cases[] = {
        {"S.Board05.CHAN012.VMon", ITEM_CHANNEL, 5, 12, "VMon"},
        {"S.Board005.BdStatus", ITEM_BOARD, 5, -99, "BdStatus"},
        {"S.Board05.BdStatus", ITEM_BOARD, 5, -99, "BdStatus"},
        {"S.BOARD12.Chan003.I0Set", ITEM_CHANNEL, 12, 3, "I0Set"},
        {"S.Board05.CHAN0123.VMon", ITEM_CHANNEL, 5, 123, "VMon"},
        {"S.Board123.CHAN4567.V", ITEM_CHANNEL, 123, 4567, "V"},
        {"KORU_HX4400_HVW_000.KeepAlive", ITEM_KEEPALIVE, -99, -99, "KeepAlive"},
        {"LiveInsRem", ITEM_KEEPALIVE, -99, -99, "LiveInsRem"},
        {"KeepAliveX", ITEM_KEEPALIVE, -99, -99, "KeepAliveX"},
        {"S.HVFanStat", ITEM_SYSTEM, -99, -99, "HVFanStat"},
        {"Plain", ITEM_SYSTEM, -99, -99, "Plain"},
        {"S.Bo", ITEM_SYSTEM, -99, -99, "Bo"},
        // Truncated and malformed items: never read past the end.
        {"S.Board", ITEM_BOARD, 0, -99, ""},
        {"S.Board0", ITEM_BOARD, 0, -99, ""},
        {"S.Board05", ITEM_BOARD, 5, -99, ""},
        {"S.Board005", ITEM_BOARD, 5, -99, ""}, // the NUL after three digits counts as below '9'
        {"S.Board123", ITEM_BOARD, 123, -99, ""},
        {"S.Board05.", ITEM_BOARD, 5, -99, ""},
        {"S.Board05.CHAN", ITEM_CHANNEL, 5, 0, ""},
        {"S.Board05.CHAN1", ITEM_CHANNEL, 5, 1, ""},
        {"S.Board05.CHAN12", ITEM_CHANNEL, 5, 12, ""},
        {"S.Board05.CHAN012", ITEM_CHANNEL, 5, 12, ""},
        {"S.", ITEM_SYSTEM, -99, -99, ""},
        {"", ITEM_SYSTEM, -99, -99, ""},
    };
    for (const ParseCase &c : cases) {
        // An exact-size heap copy, so that AddressSanitizer sees any read
        // past the terminator.
        char *item = static_cast<char *>(std::malloc(c.item.size() + 1));
        std::memcpy(item, c.item.c_str(), c.item.size() + 1);
        int16_t board = -99;
        uint16_t channel = 0xFFFF;
        char param[64] = "junk";
        const int kind = ParseItemName(item, &board, &channel, param, sizeof param);
        EXPECT_EQ(kind, c.kind) << c.item;
        EXPECT_EQ(board, c.board) << c.item;
        EXPECT_EQ(int(channel), c.channel == -99 ? 0xFFFF : c.channel) << c.item;
        EXPECT_EQ(std::string(param), c.param) << c.item;
        std::free(item);
    }
}

TEST(ItemNameTest, ParameterIsCutToItsBuffer)
{
    int16_t board = 0;
    uint16_t channel = 0;
    char param[5];
    EXPECT_EQ(ParseItemName("S.Board05.CHAN012.LongName", &board, &channel, param, sizeof param),
              ITEM_CHANNEL);
    EXPECT_STREQ(param, "Long");
}

TEST(TokenizerTest, EmptyTokensAndEnd)
{
    char text[] = "a::b";
    char *cur = nullptr;
    std::vector<std::string> got;
    for (char *t = NextToken(text, ":", &cur); t; t = NextToken(nullptr, ":", &cur))
        got.emplace_back(t);
    EXPECT_EQ(got, (std::vector<std::string>{"a", "", "b"}));

    // Two texts split at once with their own cursors.
    char x[] = "1_2", y[] = "p q";
    char *cx = nullptr, *cy = nullptr;
    EXPECT_STREQ(NextToken(x, "_", &cx), "1");
    EXPECT_STREQ(NextToken(y, " ", &cy), "p");
    EXPECT_STREQ(NextToken(nullptr, "_", &cx), "2");
    EXPECT_STREQ(NextToken(nullptr, " ", &cy), "q");
    EXPECT_EQ(NextToken(nullptr, "_", &cx), nullptr);
    char empty[] = "";
    EXPECT_EQ(NextToken(empty, ":", &cx), nullptr);
    char trailing[] = "a:";
    EXPECT_STREQ(NextToken(trailing, ":", &cx), "a");
    EXPECT_EQ(NextToken(nullptr, ":", &cx), nullptr);
}

using SubscribeTest = coretest::CoreTest;

TEST_F(SubscribeTest, LevelsBuildItemLists)
{
    auto &w = coretest::world();
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(2, 0, (void *)"10.7.0.1", "", "", &h), 0);
    char S[32];
    std::snprintf(S, sizeof S, "KORU_HX4400_HVW_%03d", h);
    char results[16];

    EXPECT_EQ(KORUHV_SubscribeSystemParams(h, 4400, "KeepAlive:LiveInsertion", 2, results), 0);
    EXPECT_EQ(w.calls.load(), 0); // nothing left to send

    EXPECT_EQ(KORUHV_SubscribeSystemParams(h, 4400, "KeepAlive:VSel", 2, results), 0);
    EXPECT_EQ(w.lastItems, std::string(S) + ".VSel");
    EXPECT_EQ(w.lastItemCount, 1);

    EXPECT_EQ(KORUHV_SubscribeBoardParams(h, 4400, 5, "BdStatus", 1, results), 0);
    EXPECT_EQ(w.lastItems, std::string(S) + ".Board005.BdStatus");

    EXPECT_EQ(KORUHV_UnSubscribeChannelParams(h, 4400, 5, 12, "VMon:IMon:Status", 3, results), 0);
    EXPECT_EQ(w.lastItems, std::string(S) + ".Board05.CHAN012.VMon:" + S + ".Board05.CHAN012.IMon:" + S +
                               ".Board05.CHAN012.Status");
    EXPECT_EQ(w.lastItemCount, 3);

    // Further text beyond the announced count is ignored.
    EXPECT_EQ(KORUHV_SubscribeChannelParams(h, 4400, 1, 2, "A:B:C", 2, results), 0);
    EXPECT_EQ(w.lastItemCount, 2);
}

TEST_F(SubscribeTest, BadListsGive26BeforeAnythingIsSent)
{
    auto &w = coretest::world();
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.7.0.2", "", "", &h), 0);
    char results[16];
    const std::string longName(64, 'x');
    const std::string okName(63, 'x');
    std::string tooLong;
    while (tooLong.size() < 8192)
        tooLong += "abc:";
    tooLong.resize(8192);
    std::string fits = tooLong.substr(0, 8191);
    EXPECT_EQ(KORUHV_SubscribeSystemParams(h, 4400, "A", 0, results), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_SubscribeSystemParams(h, 4400, nullptr, 1, results), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_SubscribeSystemParams(h, 4400, "A", 1, nullptr), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_SubscribeBoardParams(h, 4400, 0, longName.c_str(), 1, results), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_SubscribeBoardParams(h, 4400, 0, ("A:" + longName).c_str(), 2, results),
              KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_SubscribeBoardParams(h, 4400, 0, tooLong.c_str(), 3, results), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_SubscribeBoardParams(h, 4400, 0, "A:B", 3, results), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(w.calls.load(), 0);
    EXPECT_EQ(KORUHV_SubscribeBoardParams(h, 4400, 0, okName.c_str(), 1, results), 0);
    EXPECT_EQ(KORUHV_SubscribeBoardParams(h, 4400, 0, fits.c_str(), 2, results), 0);
    EXPECT_EQ(w.calls.load(), 2);
    // Handle and slot state come first.
    EXPECT_EQ(KORUHV_SubscribeSystemParams(100, 4400, "A", 1, results), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_SubscribeSystemParams(h + 1, 4400, "A", 1, results), KORUHV_ERR_NOT_OPEN);
}
