/* Static operations that build and keep up a system's node tree from the
 * wrapper's answers. Never instantiated, holds no data. Each operation
 * returns new nodes (or properties) that the caller owns.
 *
 * One .cpp per purpose (KORUHVConfig_<purpose>.cpp): tree building,
 * parameter properties, live board changes and event lookup, configuration
 * hash. Declare the operations of each purpose in its own block below. */
#ifndef KORUHVCONFIG_H
#define KORUHVCONFIG_H

#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVNodeValue.h"
#include "KORUHVTypes.h"

#include <QString>
#include <QVector>

#include <functional>

class KORUHVConfig {
public:
    KORUHVConfig() = delete;

    /* ---- declarations of the tree-building purposes go below this line ---- */

    /* ==== building the system tree (KORUHVConfig_tree.cpp) ====
     * Each operation asks the wrapper for one level and returns new nodes in
     * level order; what cannot be read is left out. */
    static KORUHVNode *KORUHVConfigCreateNodeBoard(unsigned short slot, unsigned short channelCount,
                                                   QString model, QString description, unsigned serialNumber,
                                                   QString fwRelMin, QString fwRelMax);
    /* Named "Chan%03d" from the channel; the name argument is not used. */
    static KORUHVNode *KORUHVConfigCreateNodeChannel(QString name, unsigned short channel,
                                                     unsigned short slot);
    static KORUHVNode *KORUHVConfigCreateNodeSystemProp(int handle, QString name, unsigned propertyType,
                                                        unsigned propertyMode);
    /* Board (NODE_BOARD_PARAM) or channel (NODE_CHANNEL_PARAM) parameter
     * without value and handle. */
    static KORUHVNode *KORUHVConfigCreateNodeParam(nodeType type, QString name, unsigned short slot,
                                                   unsigned wrapperType, unsigned wrapperMode,
                                                   int systemType);
    static QVector<KORUHVNode *> KORUHVConfigCreateSystemProps(int handle);
    /* "ConnStat", and "NrOfSlot" when the status is CONN_OK. */
    static QVector<KORUHVNode *> KORUHVConfigCreateSystemFurtherParams(connStatus status,
                                                                       unsigned short slotCount);
    /* One node per crate slot: position i is slot i (NODE_GROUP when empty). */
    static QVector<KORUHVNode *> KORUHVConfigCreateBoards(int handle);
    static QVector<KORUHVNode *> KORUHVConfigCreateBoardParams(int handle, unsigned short slot,
                                                               int systemType);
    static QVector<KORUHVNode *> KORUHVConfigCreateChannels(int handle, unsigned short slot,
                                                            unsigned short channelCount);
    static QVector<KORUHVNode *> KORUHVConfigCreateChannelParams(int handle, int systemType,
                                                                 unsigned short slot, unsigned short channel);
    /* The mappings of the wrapper's codes used above. */
    static nodeDataType KORUHVConfigDataTypeOfParam(unsigned wrapperType);
    /* false when the system-property type has no data type (above 6). */
    static bool KORUHVConfigDataTypeOfSysProp(unsigned propertyType, nodeDataType *dataType);
    static nodeAccessRights KORUHVConfigAccessOfMode(unsigned wrapperMode);

    /* ==== parameter properties and board information
     * (KORUHVConfig_properties.cpp) ====
     * Only properties read successfully are returned; the caller owns them. */
    static QVector<KORUHVNodeProperty *> KORUHVConfigCreateBoardInfo(KORUHVNode *board);
    static QVector<KORUHVNodeProperty *> KORUHVConfigCreateBoardParameterProperties(int handle, QString name,
                                                                                    unsigned wrapperType,
                                                                                    unsigned short slot);
    static QVector<KORUHVNodeProperty *>
    KORUHVConfigCreateChannelParameterProperties(int handle, QString name, unsigned wrapperType,
                                                 unsigned short slot, unsigned short channel);
    /* type NODE_BOARD_PARAM reads board properties, any other channel ones. */
    static QVector<KORUHVNodeProperty *>
    KORUHVConfigCreateParameterProperties(nodeType type, int handle, QString name, unsigned wrapperType,
                                          unsigned short slot, unsigned short channel);
    /* One property value; minimum and maximum size the "Enum" list. */
    static KORUHVNodeValue KORUHVConfigGetBoardPropertyValue(QString propertyName, int handle,
                                                             QString parameterName, unsigned short slot,
                                                             float minimum, float maximum);
    static KORUHVNodeValue KORUHVConfigGetChannelPropertyValue(QString propertyName, int handle,
                                                               QString parameterName, unsigned short slot,
                                                               unsigned short channel, float minimum,
                                                               float maximum);

    /* ==== live board changes and event lookup (KORUHVConfig_live.cpp) ==== */

    /* Told about every slot node that a live change is about to delete, while
     * it is still in the tree: a board that left its slot (node type
     * NODE_BOARD; the program removes it from its groups here, as
     * MainWindow::removeBoardFromGroups(handle, slot)) or the empty-slot node
     * that an arriving board replaces. Whoever keeps pointers into the
     * subtree (groups, alarm lists, panels, views) drops them in the handler;
     * the handler must not change the tree itself. One handler for the
     * process, GUI thread only; an empty function removes it. */
    using BoardRemovalHandler = std::function<void(int handle, unsigned short slot, KORUHVNode *oldNode)>;
    static void KORUHVConfigSetBoardRemovalHandler(BoardRemovalHandler handler);

    /* Re-reads the crate map and replaces slot nodes whose occupancy changed;
     * returns the new board nodes (already in the tree, still empty) in slot
     * order. A failed read or a changed slot count changes nothing. */
    static QVector<KORUHVNode *> KORUHVConfigChangeBoardsLive(int handle, KORUHVNode *systemNode);
    /* The parameter node an event names (board and channel -1 for the
     * system and board levels), or null. */
    static KORUHVNode *KORUHVConfigGetNodeFromItemId(KORUHVNode *systemNode, QString itemName, int board,
                                                     int channel);
};

#endif
