/* Enumerations shared by the node model and the program. Each is a plain int
 * (fixed underlying type), so a number read from a device, a file or the
 * wrapper converts with a static_cast and compares by value. */
#ifndef KORUHVTYPES_H
#define KORUHVTYPES_H

/* Kind of a node of a system tree. 7 is not used. */
enum nodeType : int {
    NODE_SYSTEM = 0,
    NODE_SYSTEM_PSEUDO_PARAM = 1, /* "ConnStat", "NrOfSlot", made by the program */
    NODE_SYSTEM_PROPERTY = 2,
    NODE_BOARD = 3,
    NODE_BOARD_PARAM = 4,
    NODE_CHANNEL = 5,
    NODE_CHANNEL_PARAM = 6,
    NODE_GROUP = 8 /* empty crate slot, custom-view or sub-window root; owns no children */
};

/* Value type of a node. 2 and 5 are never produced (read like 0 and 3). */
enum nodeDataType : int {
    DATA_INT32 = 0,
    DATA_INT16 = 1,
    DATA_UINT32 = 3,
    DATA_UINT16 = 4,
    DATA_FLOAT = 6,
    DATA_STRING = 7,
    DATA_ONOFF = 8,
    DATA_ENUM = 9
};

enum nodeAccessRights : int {
    ACCESS_READ_ONLY = 0,
    ACCESS_WRITE_ONLY = 1,
    ACCESS_READ_WRITE = 2,
    ACCESS_OTHER = 3 /* any other wrapper mode; also the system node */
};

enum nodeValueQuality : int {
    QUALITY_GOOD = 0,
    QUALITY_READ_FAILED = 1, /* read failed or invalidated */
    QUALITY_NOT_READ = 2,    /* default */
    QUALITY_WRITE_FAILED = 3,
    QUALITY_NOT_SUPPORTED = 4
};

enum connStatus : int { CONN_PENDING = 0, CONN_OK = 1, CONN_KO = 2, CONN_TRANSPARENT = 3 };

/* The wrapper's parameter type (the "Type" property of a board or channel
 * parameter), kept on a node as its wrapper type. */
enum : unsigned {
    WRAPPER_TYPE_NUMERIC = 0,
    WRAPPER_TYPE_ONOFF = 1,
    WRAPPER_TYPE_CHSTATUS = 2,
    WRAPPER_TYPE_BDSTATUS = 3,
    WRAPPER_TYPE_BINARY = 4,
    WRAPPER_TYPE_STRING = 5,
    WRAPPER_TYPE_ENUM = 6
};

/* The wrapper's system-property type, kept on a system-property node as its
 * wrapper type. */
enum : unsigned {
    SYSPROP_TYPE_TEXT = 0,
    SYSPROP_TYPE_FLOAT = 1,
    SYSPROP_TYPE_UINT16 = 2,
    SYSPROP_TYPE_UINT32 = 3,
    SYSPROP_TYPE_INT16 = 4,
    SYSPROP_TYPE_INT32 = 5,
    SYSPROP_TYPE_ONOFF = 6 /* carried as a 16-bit word */
};

/* Codes of the model's own write operations besides the wrapper's codes
 * (0 success, positive wrapper codes). Both count as a refused write. */
enum : int {
    KORUHV_MODEL_NOT_WRITTEN = -1, /* node kind or parameter type that is not written */
    KORUHV_MODEL_BAD_VALUE = -2    /* value does not convert to the parameter's type or range */
};

#endif
