// The "kvc" codec: byte layout in both directions, repeated keys and their
// order, agreement with Qt's own stream of a plain hash, and hostile input.
#include "KvcStream.h"
#include "tree_support.h"

#include <QBuffer>
#include <QDataStream>
#include <QVariantHash>

#include <gtest/gtest.h>

#include <random>

using KvcStream::Hash;
using mt::Bytes;

TEST(KvcCodec, FixtureEncodesByteForByte)
{
    bool ok = false;
    const QByteArray bytes = KvcStream::encode(mt::fixtureHash(), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bytes.toHex().toStdString(), mt::fixtureBytes().toHex().toStdString());
}

TEST(KvcCodec, FixtureDecodesToTheHash)
{
    bool ok = false;
    const Hash hash = KvcStream::decode(mt::fixtureBytes(), &ok);
    ASSERT_TRUE(ok);
    std::string why;
    EXPECT_TRUE(mt::deepEqual(hash, mt::fixtureHash(), &why)) << why;
    // Types as the file names them: the serial number stays unsigned.
    const Hash board = KvcStream::hashFromVariant(hash.value("boards"));
    EXPECT_EQ(board.value("serialNumber").metaType().id(), QMetaType::UInt);
    EXPECT_EQ(board.value("serialNumber").toUInt(), 4000000000u);
    EXPECT_EQ(hash.value("isCustomView").metaType().id(), QMetaType::Int);
}

TEST(KvcCodec, RepeatedKeysKeepAllValuesNewestFirst)
{
    Hash inner;
    inner.insert("vectorIndex", QVariant(0));
    Hash top;
    for (int i = 0; i < 3; ++i) {
        Hash board;
        board.insert("isPresent", QVariant(i));
        board.insert("channels", KvcStream::toVariant(inner));
        board.insert("channels", KvcStream::toVariant(inner));
        top.insert("boards", KvcStream::toVariant(board));
    }
    bool ok = false;
    const QByteArray bytes = KvcStream::encode(top, &ok);
    ASSERT_TRUE(ok);
    // Written oldest first: the file's first board entry is slot 0.
    Bytes head;
    head.u32(3).key("boards").vHash(3).key("isPresent").vInt(0).key("channels");
    EXPECT_TRUE(bytes.startsWith(head.b));

    const Hash back = KvcStream::decode(bytes, &ok);
    ASSERT_TRUE(ok);
    const QList<QVariant> boards = back.values("boards");
    ASSERT_EQ(boards.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const Hash b = KvcStream::hashFromVariant(boards[i]);
        EXPECT_EQ(b.value("isPresent").toInt(), 2 - i) << "newest first";
        EXPECT_EQ(b.values("channels").size(), 2);
    }
    std::string why;
    EXPECT_TRUE(mt::deepEqual(back, top, &why)) << why;
}

TEST(KvcCodec, LevelOrderFollowsTheQt4HashThroughItsGrowth)
{
    // A channel level of 18 entries: the 18th value makes the Qt 4 hash grow
    // from 17 to 37 buckets, which reorders the keys.
    Hash channel;
    channel.insert("vectorIndex", QVariant(0));
    channel.insert("isEnabled", QVariant(1));
    channel.insert("visualIndex", QVariant(2));
    channel.insert("isEnabledInCustomView", QVariant(3));
    channel.insert("customViewVisualIndex", QVariant(4));
    for (int i = 0; i < 13; ++i)
        channel.insert("parameters", QVariant(100 + i));
    Bytes expected;
    expected.u32(18);
    expected.key("visualIndex").vInt(2).key("customViewVisualIndex").vInt(4).key("isEnabled").vInt(1);
    expected.key("isEnabledInCustomView").vInt(3).key("vectorIndex").vInt(0);
    for (int i = 0; i < 13; ++i)
        expected.key("parameters").vInt(100 + i);
    bool ok = false;
    EXPECT_EQ(KvcStream::encode(channel, &ok).toHex().toStdString(), expected.b.toHex().toStdString());
    EXPECT_TRUE(ok);

    // Below the growth the shared bucket keeps insertion order: "visualIndex"
    // before "parameters", written the other way round.
    Hash small;
    small.insert("vectorIndex", QVariant(0));
    small.insert("visualIndex", QVariant(2));
    small.insert("parameters", QVariant(7));
    Bytes expectedSmall;
    expectedSmall.u32(3).key("vectorIndex").vInt(0).key("parameters").vInt(7).key("visualIndex").vInt(2);
    EXPECT_EQ(KvcStream::encode(small).toHex().toStdString(), expectedSmall.b.toHex().toStdString());

    // A system level of 12 slots stays at 17 buckets ("connType" and
    // "isCustomView" share one); with 20 slots it has grown to 37.
    for (const int slotCount : {12, 20}) {
        Hash top;
        top.insert("name", QVariant(QStringLiteral("n")));
        top.insert("initParam", QVariant(QStringLiteral("i")));
        top.insert("psType", QVariant(2));
        top.insert("connType", QVariant(0));
        top.insert("isCustomView", QVariant(0));
        for (int i = 0; i < slotCount; ++i)
            top.insert("boards", QVariant(i));
        Bytes boards;
        for (int i = 0; i < slotCount; ++i)
            boards.key("boards").vInt(i);
        Bytes e;
        e.u32(quint32(5 + slotCount));
        if (slotCount == 12) {
            e.key("initParam").vStr("i").key("name").vStr("n").key("psType").vInt(2);
            e.b.append(boards.b);
            e.key("isCustomView").vInt(0).key("connType").vInt(0);
        } else {
            e.b.append(boards.b);
            e.key("isCustomView").vInt(0).key("name").vStr("n").key("psType").vInt(2);
            e.key("connType").vInt(0).key("initParam").vStr("i");
        }
        EXPECT_EQ(KvcStream::encode(top).toHex().toStdString(), e.b.toHex().toStdString()) << slotCount;
    }
}

TEST(KvcCodec, AgreesWithQtStreamOfAPlainHash)
{
    // Qt writes a QVariantHash (no repeated keys) at stream version 12 in the
    // same layout; with one key per level its bytes are deterministic.
    QVariantHash level2;
    level2.insert("name", QStringLiteral("VMon"));
    QVariantHash level1;
    level1.insert("parameters", level2);
    QVariantHash top;
    top.insert("channels", level1);
    QByteArray qtBytes;
    {
        QBuffer buffer(&qtBytes);
        buffer.open(QIODevice::WriteOnly);
        QDataStream out(&buffer);
        out.setVersion(QDataStream::Qt_4_8);
        out << top;
    }
    Hash mine;
    Hash m1;
    Hash m2;
    m2.insert("name", QVariant(QStringLiteral("VMon")));
    m1.insert("parameters", KvcStream::toVariant(m2));
    mine.insert("channels", KvcStream::toVariant(m1));
    EXPECT_EQ(KvcStream::encode(mine).toHex().toStdString(), qtBytes.toHex().toStdString());

    // Qt's own stream cannot stand in: a multi-hash inside a variant is not
    // written as a hash (type 28) at all.
    QByteArray multiBytes;
    {
        QBuffer buffer(&multiBytes);
        buffer.open(QIODevice::WriteOnly);
        QDataStream out(&buffer);
        out.setVersion(QDataStream::Qt_4_8);
        out << KvcStream::toVariant(m2);
    }
    EXPECT_FALSE(multiBytes.startsWith(Bytes().u32(28).b));

    // And what Qt writes for several keys and the scalar types reads back.
    QVariantHash flat;
    flat.insert("b", true);
    flat.insert("i", -7);
    flat.insert("u", 4000000000u);
    flat.insert("s", QStringLiteral("x\u00e9"));
    flat.insert("n", QString());
    QByteArray flatBytes;
    {
        QBuffer buffer(&flatBytes);
        buffer.open(QIODevice::WriteOnly);
        QDataStream out(&buffer);
        out.setVersion(QDataStream::Qt_4_8);
        out << flat;
    }
    bool ok = false;
    const Hash back = KvcStream::decode(flatBytes, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(back.size(), 5);
    EXPECT_EQ(back.value("b"), QVariant(true));
    EXPECT_EQ(back.value("i"), QVariant(-7));
    EXPECT_EQ(back.value("u"), QVariant(4000000000u));
    EXPECT_EQ(back.value("s").toString(), QStringLiteral("x\u00e9"));
    EXPECT_TRUE(back.value("n").toString().isNull());
}

TEST(KvcCodec, EncoderRefusesWhatTheFormatCannotHold)
{
    struct Case {
        const char *what;
        Hash hash;
    };
    Hash level4;
    level4.insert("x", QVariant(1));
    Hash level3;
    level3.insert("h", KvcStream::toVariant(level4));
    Hash level2;
    level2.insert("p", KvcStream::toVariant(level3));
    Hash level1;
    level1.insert("c", KvcStream::toVariant(level2));
    Hash tooDeep;
    tooDeep.insert("b", KvcStream::toVariant(level1)); // four nested levels
    Hash deepest;
    deepest.insert("b", KvcStream::toVariant(level2)); // three: boards, channels, parameters
    Hash aDouble;
    aDouble.insert("d", QVariant(1.5));
    Hash aList;
    aList.insert("l", QVariant(QStringList{"a"}));

    bool ok = true;
    KvcStream::encode(tooDeep, &ok);
    EXPECT_FALSE(ok) << "four levels";
    KvcStream::encode(aDouble, &ok);
    EXPECT_FALSE(ok) << "double";
    KvcStream::encode(aList, &ok);
    EXPECT_FALSE(ok) << "string list";
    const QByteArray bytes = KvcStream::encode(deepest, &ok);
    EXPECT_TRUE(ok) << "three levels";
    EXPECT_TRUE(mt::deepEqual(KvcStream::decode(bytes), deepest));
}

TEST(KvcCodec, HostileInputGivesAnEmptyHash)
{
    const auto nested = [](int levels) {
        Bytes b;
        b.u32(1);
        for (int i = 0; i < levels; ++i)
            b.key("h").vHash(1);
        b.key("x").vInt(1);
        return b.b;
    };
    struct Case {
        const char *what;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"empty file", QByteArray()},
        {"three bytes", QByteArray("\0\0\0", 3)},
        {"count without entries", Bytes().u32(1).b},
        {"count far beyond the data", Bytes().u32(0xFFFFFFFFu).key("a").vInt(1).b},
        {"count one beyond the data", Bytes().u32(2).key("a").vInt(1).b},
        {"odd key length", Bytes().u32(1).u32(3).u8('a').u8(0).u8('b').vInt(1).b},
        {"key longer than the file", Bytes().u32(1).u32(0x7FFFFFFEu).u16('a').vInt(1).b},
        {"unknown type (double)", Bytes().u32(1).key("a").u32(6).u8(0).u32(0).u32(0).b},
        {"user type", Bytes().u32(1).key("a").u32(127).u8(0).key("QPoint").b},
        {"value cut off", Bytes().u32(1).key("a").u32(2).u8(0).u16(0).b},
        {"string value cut off", Bytes().u32(1).key("a").u32(10).u8(0).u32(8).u16('x').b},
        {"nested count beyond the data", Bytes().u32(1).key("b").vHash(1000).b},
        {"four nested levels", nested(4)},
    };
    for (const Case &c : cases) {
        bool ok = true;
        const Hash h = KvcStream::decode(c.bytes, &ok);
        EXPECT_FALSE(ok) << c.what;
        EXPECT_TRUE(h.isEmpty()) << c.what;
    }
    bool ok = false;
    EXPECT_EQ(KvcStream::decode(nested(3), &ok).size(), 1);
    EXPECT_TRUE(ok) << "three nested levels are the format's own";
    EXPECT_TRUE(KvcStream::decode(Bytes().u32(0).b, &ok).isEmpty());
    EXPECT_TRUE(ok) << "an empty hash is a valid file";
}

TEST(KvcCodec, EveryTruncationOfTheFixtureGivesAnEmptyHash)
{
    const QByteArray full = mt::fixtureBytes();
    for (int n = 0; n < full.size(); ++n) {
        bool ok = true;
        EXPECT_TRUE(KvcStream::decode(full.left(n), &ok).isEmpty()) << n;
        EXPECT_FALSE(ok) << n;
    }
}

TEST(KvcCodec, RandomAndMutatedInputNeverBreaksTheReader)
{
    // Bounded: a fixed seed and a fixed number of cases. Whatever decodes
    // must be complete enough to be written and read back unchanged.
    std::mt19937 rng(20261209);
    const QByteArray fixture = mt::fixtureBytes();
    auto check = [](const QByteArray &bytes) {
        bool ok = false;
        const Hash h = KvcStream::decode(bytes, &ok);
        if (!ok) {
            EXPECT_TRUE(h.isEmpty());
            return;
        }
        bool encoded = false;
        const QByteArray again = KvcStream::encode(h, &encoded);
        ASSERT_TRUE(encoded);
        EXPECT_TRUE(mt::deepEqual(KvcStream::decode(again), h));
    };
    for (int i = 0; i < 2000; ++i) {
        QByteArray bytes(int(rng() % 96), '\0');
        for (char &c : bytes)
            c = char(rng());
        if (bytes.size() >= 4 && (i % 2) == 0) // a plausible count now and then
            bytes[0] = bytes[1] = bytes[2] = 0;
        check(bytes);
    }
    for (int i = 0; i < 4000; ++i) {
        QByteArray bytes = fixture;
        const int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const int pos = int(rng() % unsigned(bytes.size()));
            switch (rng() % 4) {
            case 0:
                bytes[pos] = char(rng());
                break;
            case 1:
                bytes[pos] = char(bytes[pos] ^ (1 << (rng() % 8)));
                break;
            case 2:
                bytes.remove(pos, 1 + int(rng() % 8));
                break;
            default:
                bytes.insert(pos, char(rng()));
                break;
            }
            if (bytes.isEmpty())
                break;
        }
        check(bytes);
    }
}
