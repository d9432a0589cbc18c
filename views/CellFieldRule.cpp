#include "CellFieldRule.h"

#include "KORUHVTypes.h"

namespace koruviews {

CellFieldChoice cellFieldFor(int dataType, unsigned wrapperType, int access, int nodeType)
{
    CellFieldChoice c;
    c.editable = access != ACCESS_READ_ONLY;
    c.unitLabel = dataType != DATA_ENUM;
    const bool signedType = dataType <= 2;
    if (signedType && wrapperType == WRAPPER_TYPE_BDSTATUS) {
        c.field = CellField::BoardStatusLabel;
    } else if (signedType && wrapperType == WRAPPER_TYPE_CHSTATUS) {
        c.field = CellField::ChannelStatusLabel;
    } else if (signedType && wrapperType == WRAPPER_TYPE_BINARY) {
        c.field = CellField::HexEdit;
        c.hexLayout = true;
    } else if (dataType <= 5) {
        c.field = CellField::IntSpin;
        c.signedRange = signedType;
    } else if (dataType == DATA_FLOAT) {
        c.field = CellField::FloatSpin;
    } else if (dataType == DATA_STRING) {
        c.field = CellField::TextEdit;
    } else if (dataType == DATA_ONOFF) {
        if (!c.editable)
            c.field = CellField::OnOffLabel;
        else if (nodeType == NODE_CHANNEL_PARAM)
            c.field = CellField::OnOffCombo;
        else
            c.field = CellField::OnOffSwitch;
    } else if (dataType == DATA_ENUM) {
        c.field = c.editable ? CellField::EnumCombo : CellField::EnumLabel;
    }
    return c;
}

} // namespace koruviews
