// Parameter properties per wrapper type, their variant types, the on/off
// and enumeration texts, missing properties, hostile limits, and the board
// information of a board node.
#include "FakeWrapper.h"
#include "KORUHVConfig.h"
#include "KORUHVNodeProperty.h"

#include <QVariantList>

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace {

using fakehv::Raw;

// The properties an operation returned, deleted with the holder.
struct Owned {
    explicit Owned(QVector<KORUHVNodeProperty *> l) : list(std::move(l)) {}
    Owned(Owned &&other) noexcept : list(std::exchange(other.list, {})) {}
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    ~Owned() { qDeleteAll(list); }
    QVector<KORUHVNodeProperty *> list;
    QStringList names() const
    {
        QStringList out;
        for (auto *p : list)
            out << p->getPropName();
        return out;
    }
    const KORUHVNodeProperty *operator[](const char *name) const
    {
        for (auto *p : list)
            if (p->getPropName() == QLatin1String(name))
                return p;
        return nullptr;
    }
    QVariant value(const char *name) const
    {
        const KORUHVNodeProperty *p = (*this)[name];
        return p ? p->getPropVal().KORUHVGetValue() : QVariant();
    }
};

QStringList texts(const QVariant &v)
{
    QStringList out;
    for (const QVariant &t : v.toList())
        out << t.toString();
    return out;
}

class Properties : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        sys.addBoard(0, 1);
        h = fakehv::addSystem(sys);
        board = &fakehv::system(h).crate[0];
    }
    // A parameter on the board and on its channel with the same properties.
    void add(const std::string &name, unsigned type, std::map<std::string, Raw> props,
             std::map<std::string, int> codes = {})
    {
        fakehv::Param p;
        p.type = type;
        p.props = std::move(props);
        p.propCodes = std::move(codes);
        board->params.push_back({name, p});
        board->channels[0].params.push_back({name, p});
    }
    Owned ofBoard(const char *name, unsigned type)
    {
        return Owned(KORUHVConfig::KORUHVConfigCreateBoardParameterProperties(h, name, type, 0));
    }
    Owned ofChannel(const char *name, unsigned type)
    {
        return Owned(KORUHVConfig::KORUHVConfigCreateChannelParameterProperties(h, name, type, 0, 0));
    }
    int h = -1;
    fakehv::Board *board = nullptr;
};

} // namespace

TEST_F(Properties, NumericAndBinaryParameters)
{
    const std::map<std::string, Raw> props = {{"Minval", Raw::f32(-10.5f)},
                                              {"Maxval", Raw::f32(3000.0f)},
                                              {"Unit", Raw::u16(2)},
                                              {"Exp", Raw::i16(-6)},
                                              {"Decimal", Raw::i16(3)}};
    add("VSet", 0, props);
    add("Mask", 4, props);
    for (const auto &[name, type] : {std::pair{"VSet", 0u}, std::pair{"Mask", 4u}}) {
        const Owned onBoard = ofBoard(name, type);
        const Owned onChannel = ofChannel(name, type);
        for (const Owned *level : {&onBoard, &onChannel}) {
            const Owned &o = *level;
            EXPECT_EQ(o.names(), (QStringList{"Minval", "Maxval", "Unit", "Exp", "Decimal"})) << name;
            EXPECT_EQ(o.value("Minval"), QVariant(-10.5f));
            EXPECT_EQ(o.value("Minval").metaType().id(), QMetaType::Float);
            EXPECT_EQ(o.value("Maxval"), QVariant(3000.0f));
            EXPECT_EQ(o.value("Unit"), QVariant::fromValue<quint16>(2));
            EXPECT_EQ(o.value("Exp"), QVariant::fromValue<qint16>(-6));
            EXPECT_EQ(o.value("Decimal"), QVariant::fromValue<qint16>(3));
            for (auto *p : o.list) {
                EXPECT_EQ(p->getDataType(), DATA_FLOAT);
                EXPECT_EQ(p->getHandle(), -1);
                EXPECT_EQ(p->getPropVal().KORUHVGetQuality(), QUALITY_GOOD);
                EXPECT_EQ(p->parent(), nullptr);
            }
        }
    }
}

TEST_F(Properties, OnOffTextsAndPolarityNames)
{
    struct Case {
        const char *on, *off, *channelOn, *channelOff, *boardOn, *boardOff;
    };
    const Case cases[] = {
        {"On", "Off", "On", "Off", "On", "Off"},
        {" + ", "-", "POS", "NEG", " + ", "-"},
        {"+5", "\t-\n", "+5", "NEG", "+5", "\t-\n"},
        // A no-break space (Latin-1 0xA0) is white space too.
        {"\xa0+", "-\xa0", "POS", "NEG", "\xa0+", "-\xa0"},
    };
    int i = 0;
    for (const Case &c : cases) {
        const std::string name = "Pol" + std::to_string(i++);
        add(name, 1, {{"Onstate", Raw::text(c.on)}, {"Offstate", Raw::text(c.off)}});
        const Owned ch = ofChannel(name.c_str(), 1);
        const Owned bd = ofBoard(name.c_str(), 1);
        EXPECT_EQ(ch.names(), (QStringList{"Onstate", "Offstate"}));
        EXPECT_EQ(ch.value("Onstate"), QVariant(QString(c.channelOn))) << c.on;
        EXPECT_EQ(ch.value("Offstate"), QVariant(QString(c.channelOff))) << c.off;
        EXPECT_EQ(bd.value("Onstate"), QVariant(QString::fromLatin1(c.boardOn))) << c.on;
        EXPECT_EQ(bd.value("Offstate"), QVariant(QString::fromLatin1(c.boardOff))) << c.off;
    }
}

TEST_F(Properties, EnumerationListsFollowTheLimits)
{
    const auto words =
        Raw::enumTexts({"Zero", "One", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight", "Nine"});
    struct Case {
        const char *name;
        std::map<std::string, Raw> props;
        std::map<std::string, int> codes;
        QStringList channelNames;
        QStringList channelTexts;
        bool boardHasEnum;
    };
    const Case cases[] = {
        {"E03",
         {{"Minval", Raw::f32(0)}, {"Maxval", Raw::f32(3)}, {"Enum", words}},
         {},
         {"Minval", "Maxval", "Enum"},
         {"Zero", "One", "Two", "Three"},
         true},
        {"Ehalf",
         {{"Minval", Raw::f32(0.5f)}, {"Maxval", Raw::f32(2.0f)}, {"Enum", words}},
         {},
         {"Minval", "Maxval", "Enum"},
         {"Zero", "One"},
         true},
        // Both limits refused: 0.0 to 0.0, one text and no limit properties.
        {"Enolim", {{"Enum", words}}, {{"Minval", 7}, {"Maxval", 7}}, {"Enum"}, {"Zero"}, true},
        // Maximum below minimum: an empty list on a channel, none on a board.
        {"Eneg",
         {{"Minval", Raw::f32(5)}, {"Maxval", Raw::f32(1)}, {"Enum", words}},
         {},
         {"Minval", "Maxval", "Enum"},
         {},
         false},
    };
    for (const Case &c : cases) {
        add(c.name, 6, c.props, c.codes);
        const Owned ch = ofChannel(c.name, 6);
        EXPECT_EQ(ch.names(), c.channelNames) << c.name;
        EXPECT_EQ(texts(ch.value("Enum")), c.channelTexts) << c.name;
        ASSERT_NE(ch["Enum"], nullptr) << c.name;
        EXPECT_EQ(ch["Enum"]->getDataType(), DATA_ENUM);
        EXPECT_EQ(ch.value("Enum").metaType().id(), QMetaType::QVariantList);
        const Owned bd = ofBoard(c.name, 6);
        EXPECT_EQ(bd["Enum"] != nullptr, c.boardHasEnum) << c.name;
        if (c.boardHasEnum) {
            EXPECT_EQ(texts(bd.value("Enum")), c.channelTexts) << c.name;
        }
    }
}

TEST_F(Properties, EnumerationTextsAreBoundedAndHostileLimitsRefused)
{
    // Entries without their NUL are cut to 14 characters.
    Raw unterminated;
    unterminated.bytes.assign(150, 'X');
    add("Eraw", 6, {{"Minval", Raw::f32(0)}, {"Maxval", Raw::f32(1)}, {"Enum", unterminated}});
    const Owned raw = ofChannel("Eraw", 6);
    EXPECT_EQ(texts(raw.value("Enum")), (QStringList{QString(14, 'X'), QString(14, 'X')}));

    // Limits that claim millions of texts: no buffer is sized from them and
    // nothing is asked.
    add("Ehuge", 6, {{"Minval", Raw::f32(0)}, {"Maxval", Raw::f32(1e9f)}, {"Enum", Raw::enumTexts({"a"})}});
    fakehv::clearCalls();
    const Owned huge = ofChannel("Ehuge", 6);
    EXPECT_EQ(huge.names(), (QStringList{"Minval", "Maxval"}));
    for (const auto &c : fakehv::callsOf("KORUHV_GetChParamProp"))
        EXPECT_NE(c.property, "Enum");
}

TEST_F(Properties, MissingPropertiesAreLeftOut)
{
    add("ISet", 0, {{"Minval", Raw::f32(0)}, {"Maxval", Raw::f32(1)}, {"Exp", Raw::i16(-6)}},
        {{"Maxval", 3}});
    const Owned o = ofChannel("ISet", 0);
    EXPECT_EQ(o.names(), (QStringList{"Minval", "Exp"})) << "Unit and Decimal unknown, Maxval refused";
    // The reader itself: an unknown name never reaches the wrapper.
    fakehv::clearCalls();
    const KORUHVNodeValue v = KORUHVConfig::KORUHVConfigGetBoardPropertyValue("Foo", h, "ISet", 0, 0, 0);
    EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_READ_FAILED);
    EXPECT_EQ(v.KORUHVGetValue(), QVariant(0));
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST_F(Properties, StatusAndTextParametersHaveNone)
{
    add("Status", 2, {{"Minval", Raw::f32(0)}});
    add("BdStatus", 3, {});
    add("Label", 5, {});
    fakehv::clearCalls();
    for (const auto &[name, type] : {std::pair{"Status", 2u}, std::pair{"BdStatus", 3u},
                                     std::pair{"Label", 5u}, std::pair{"Odd", 12u}}) {
        EXPECT_TRUE(ofChannel(name, type).list.isEmpty()) << name;
        EXPECT_TRUE(ofBoard(name, type).list.isEmpty()) << name;
    }
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST(BoardInfo, FivePropertiesFromTheBoardNode)
{
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateBoardInfo(nullptr).isEmpty());
    std::unique_ptr<KORUHVNode> board(
        KORUHVConfig::KORUHVConfigCreateNodeBoard(4, 24, "A1535", "24 Ch 3.5KV", 4000000001u, "11", "02"));
    const Owned info(KORUHVConfig::KORUHVConfigCreateBoardInfo(board.get()));
    EXPECT_EQ(info.names(), (QStringList{"ChCount", "BdModel", "BdDescr", "SerNum", "FmwRel"}));
    const struct {
        const char *name;
        nodeDataType type;
        QVariant value;
    } expected[] = {
        {"ChCount", DATA_INT16, QVariant::fromValue<quint16>(24)},
        {"BdModel", DATA_STRING, QVariant(QStringLiteral("A1535"))},
        {"BdDescr", DATA_STRING, QVariant(QStringLiteral("24 Ch 3.5KV"))},
        {"SerNum", DATA_INT16, QVariant(4000000001u)},
        {"FmwRel", DATA_STRING, QVariant(QStringLiteral("02.11"))},
    };
    for (int i = 0; i < 5; ++i) {
        const KORUHVNodeProperty *p = info.list[i];
        EXPECT_EQ(p->objectName(), QString(expected[i].name));
        EXPECT_EQ(p->getDataType(), expected[i].type) << expected[i].name;
        EXPECT_EQ(p->getPropVal().KORUHVGetValue(), expected[i].value) << expected[i].name;
        EXPECT_EQ(p->getPropVal().KORUHVGetValue().metaType(), expected[i].value.metaType())
            << expected[i].name;
        EXPECT_EQ(p->getPropVal().KORUHVGetQuality(), QUALITY_GOOD);
    }
}
