// Which value field a node's editor gets: one row per decision of the rule
// (status words, register words, integer signs, on/off by access and node
// type, enumerations, unknown types), and the unit label and hex layout that
// go with it.
#include "CellFieldRule.h"
#include "KORUHVTypes.h"

#include <gtest/gtest.h>

namespace {

using koruviews::CellField;
using koruviews::cellFieldFor;

struct Case {
    const char *what;
    int dataType;
    unsigned wrapperType;
    int access;
    int nodeType;
    CellField field;
    bool editable;
    bool signedRange;
    bool unitLabel;
    bool hexLayout;
};

constexpr int RO = ACCESS_READ_ONLY, RW = ACCESS_READ_WRITE, WO = ACCESS_WRITE_ONLY, OT = ACCESS_OTHER;
constexpr int CH = NODE_CHANNEL_PARAM, BD = NODE_BOARD_PARAM, SYS = NODE_SYSTEM_PROPERTY;

const Case cases[] = {
    // Status words are shown as text whatever the access.
    {"board status", DATA_INT32, WRAPPER_TYPE_BDSTATUS, RO, BD, CellField::BoardStatusLabel, false, false,
     true, false},
    {"channel status", DATA_INT16, WRAPPER_TYPE_CHSTATUS, RW, CH, CellField::ChannelStatusLabel, true, false,
     true, false},
    // A status wrapper over an unsigned type is just a number.
    {"unsigned status word", DATA_UINT32, WRAPPER_TYPE_CHSTATUS, RO, CH, CellField::IntSpin, false, false,
     true, false},
    {"register word", DATA_INT32, WRAPPER_TYPE_BINARY, RW, CH, CellField::HexEdit, true, false, true, true},
    {"read-only register word", DATA_INT16, WRAPPER_TYPE_BINARY, RO, BD, CellField::HexEdit, false, false,
     true, true},
    {"unsigned register word", DATA_UINT16, WRAPPER_TYPE_BINARY, RW, CH, CellField::IntSpin, true, false,
     true, false},
    {"signed int", DATA_INT32, WRAPPER_TYPE_NUMERIC, RW, CH, CellField::IntSpin, true, true, true, false},
    {"type 2 counts as signed", 2, WRAPPER_TYPE_NUMERIC, RW, CH, CellField::IntSpin, true, true, true, false},
    {"unsigned int", DATA_UINT32, WRAPPER_TYPE_NUMERIC, WO, CH, CellField::IntSpin, true, false, true, false},
    {"type 5 counts as unsigned", 5, WRAPPER_TYPE_NUMERIC, RO, CH, CellField::IntSpin, false, false, true,
     false},
    {"float", DATA_FLOAT, WRAPPER_TYPE_NUMERIC, RW, CH, CellField::FloatSpin, true, false, true, false},
    {"read-only float", DATA_FLOAT, WRAPPER_TYPE_NUMERIC, RO, CH, CellField::FloatSpin, false, false, true,
     false},
    {"float ignores a binary wrapper", DATA_FLOAT, WRAPPER_TYPE_BINARY, RW, CH, CellField::FloatSpin, true,
     false, true, false},
    {"string", DATA_STRING, WRAPPER_TYPE_STRING, RW, SYS, CellField::TextEdit, true, false, true, false},
    {"read-only string", DATA_STRING, WRAPPER_TYPE_STRING, RO, CH, CellField::TextEdit, false, false, true,
     false},
    // On/off: a label when read-only, a combo in the channel table, a switch elsewhere.
    {"read-only on/off", DATA_ONOFF, WRAPPER_TYPE_ONOFF, RO, CH, CellField::OnOffLabel, false, false, true,
     false},
    {"channel on/off", DATA_ONOFF, WRAPPER_TYPE_ONOFF, RW, CH, CellField::OnOffCombo, true, false, true,
     false},
    {"write-only channel on/off", DATA_ONOFF, WRAPPER_TYPE_ONOFF, WO, CH, CellField::OnOffCombo, true, false,
     true, false},
    {"board on/off", DATA_ONOFF, WRAPPER_TYPE_ONOFF, RW, BD, CellField::OnOffSwitch, true, false, true,
     false},
    {"system on/off", DATA_ONOFF, WRAPPER_TYPE_ONOFF, OT, SYS, CellField::OnOffSwitch, true, false, true,
     false},
    // An enumeration has no unit label.
    {"enum", DATA_ENUM, WRAPPER_TYPE_ENUM, RW, CH, CellField::EnumCombo, true, false, false, false},
    {"read-only enum", DATA_ENUM, WRAPPER_TYPE_ENUM, RO, BD, CellField::EnumLabel, false, false, false,
     false},
    {"unknown type", 12, WRAPPER_TYPE_NUMERIC, RW, CH, CellField::None, true, false, true, false},
};

TEST(CellFieldRule, EachCombinationGetsItsField)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const koruviews::CellFieldChoice got = cellFieldFor(c.dataType, c.wrapperType, c.access, c.nodeType);
        EXPECT_EQ(got.field, c.field);
        EXPECT_EQ(got.editable, c.editable);
        EXPECT_EQ(got.signedRange, c.signedRange);
        EXPECT_EQ(got.unitLabel, c.unitLabel);
        EXPECT_EQ(got.hexLayout, c.hexLayout);
    }
}

} // namespace
