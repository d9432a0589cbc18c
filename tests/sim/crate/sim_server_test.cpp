// The request field reader both crate simulators parse with: byte order and
// the end-of-request rule are the two differences between the protocols.
#include <gtest/gtest.h>

#include "crate/sim_server.h"

using korusim::simserver::FieldReader;

TEST(SimServerFieldReader, NumbersInEitherByteOrder)
{
    const std::string b("\x01\x02\x03\x04\x05\x06", 6);
    FieldReader be{b, 0, "X", false, false, {}};
    EXPECT_EQ(be.u16("a"), 0x0102u);
    EXPECT_EQ(be.u32("b"), 0x03040506u);
    FieldReader le{b, 0, "X", true, false, {}};
    EXPECT_EQ(le.u16("a"), 0x0201u);
    EXPECT_EQ(le.u32("b"), 0x06050403u);
    EXPECT_TRUE(le.end());
    FieldReader shortOne{b, 4, "X", false, false, {}};
    EXPECT_EQ(shortOne.u32("value"), 0u);
    EXPECT_EQ(shortOne.error, "X: request ends inside value at byte 4");
}

TEST(SimServerFieldReader, NamesAndTheEndOfARequest)
{
    struct Case {
        std::string body;
        bool trailingColonOk;
        bool ends;
        std::string error;
    } cases[] = {
        {"name:", false, true, ""},
        {"name::", false, false, "K: 1 unexpected bytes at the end at byte 5"},
        {"name::", true, true, ""},
        {"name:::", true, false, "K: 2 unexpected bytes at the end at byte 5"},
        {"name", false, false, "K: no ':' after field at byte 0"},
        {std::string("na\0e:", 5), false, false, "K: NUL inside field at byte 0"},
    };
    for (const Case &c : cases) {
        FieldReader rd{c.body, 0, "K", false, c.trailingColonOk, {}};
        std::string n = rd.name("field");
        EXPECT_EQ(rd.end(), c.ends) << c.body;
        EXPECT_EQ(rd.error, c.error) << c.body;
        if (c.ends) {
            EXPECT_EQ(n, "name");
        }
    }
}
