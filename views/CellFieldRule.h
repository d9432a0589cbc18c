/* Which value field the editor of one node gets, decided from the node's
 * data type, wrapper type, access and node type alone; KORUHVWidgetItem only
 * builds what this names. Kept plain so that every combination is tested by
 * a table. */
#ifndef CELLFIELDRULE_H
#define CELLFIELDRULE_H

namespace koruviews {

enum class CellField {
    None,               /* no value field (unknown data type) */
    BoardStatusLabel,   /* board status word as text */
    ChannelStatusLabel, /* channel status word as text */
    HexEdit,            /* register word as 8 hex digits */
    IntSpin,            /* integer spin box */
    FloatSpin,          /* double spin box */
    TextEdit,           /* line edit */
    OnOffLabel,         /* read-only on/off text */
    OnOffCombo,         /* on/off as a two-entry combo (channel parameters) */
    OnOffSwitch,        /* on/off switch (every other node) */
    EnumCombo,          /* enumeration choice */
    EnumLabel           /* read-only enumeration text */
};

struct CellFieldChoice {
    CellField field = CellField::None;
    bool editable = false;    /* not read-only: ranges from "Minval"/"Maxval" */
    bool signedRange = false; /* IntSpin of a signed type */
    bool unitLabel = false;   /* a unit label beside the field */
    bool hexLayout = false;   /* unit first, right to left (register words) */
};

/* dataType is a nodeDataType, wrapperType a WRAPPER_TYPE_*, access a
 * nodeAccessRights, nodeType a nodeType. The integer types are the ranges
 * 0-2 (signed) and 3-5 (unsigned), as the device lists them. */
CellFieldChoice cellFieldFor(int dataType, unsigned wrapperType, int access, int nodeType);

} // namespace koruviews

#endif
