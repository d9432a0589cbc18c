/* One node of the program's system tree (system, system property or
 * pseudo-parameter, board, board parameter, channel, channel parameter, or a
 * grouping node). A node is itself the table cell that shows its value; a
 * channel parameter shown in a second table uses its KORUHVMirrorNode there.
 *
 * Ownership: a node owns its mirror, children, parameters and properties,
 * except that a node of type NODE_GROUP owns only its mirror (its children
 * belong to another tree). A table that holds a node as its item also deletes
 * it when the table goes: take node cells out of a table (takeItem) before the
 * table is destroyed, or the tree keeps a dangling pointer.
 *
 * GUI thread only. */
#ifndef KORUHVNODE_H
#define KORUHVNODE_H

#include "KORUHVNodeValue.h"
#include "KORUHVTypes.h"

#include <QString>
#include <QTableWidgetItem>
#include <QVariant>
#include <QVector>

class KORUHVMirrorNode;
class KORUHVNodeProperty;

class KORUHVNode : public QTableWidgetItem {
public:
    KORUHVNode();
    ~KORUHVNode() override;

    KORUHVNode(const KORUHVNode &) = delete;
    KORUHVNode &operator=(const KORUHVNode &) = delete;

    /* Second-stage initialiser, called once right after construction. */
    void KORUHVPrepareNode(QString name, nodeType type, int sysType, int connType, QString initParam,
                           QString username, QString password);

    /* Cells: a table item of either class tells whether it is a mirror;
     * nodeOfCell gives the node a cell stands for (the node itself, the
     * reference of a mirror, or null for any other item). */
    bool isMirrorNode() const { return isMirror; }
    static bool cellIsMirror(const QTableWidgetItem *cell);
    static KORUHVNode *nodeOfCell(QTableWidgetItem *cell);
    KORUHVMirrorNode *getMirrorNode() const { return mirrorNode; }

    /* Tree. Null pointers are ignored; added nodes take this node's system
     * type unless this node is a grouping node. */
    QVector<KORUHVNode *> getChildren() const { return children; }
    void addChildNode(KORUHVNode *child);
    void insertChildNode(KORUHVNode *child, int index);
    /* Takes the entry out of the list without deleting it. */
    void removeChildNode(int index);
    QVector<KORUHVNode *> getParameters() const { return parameters; }
    void addParameter(KORUHVNode *parameter);
    QVector<KORUHVNodeProperty *> getProperties() const { return properties; }
    void addProperty(KORUHVNodeProperty *property);

    /* "KORU" when the name is empty. */
    QString getNodeName() const;
    void setNodeName(QString name) { nodeName = name; }
    nodeType getNodeType() const { return kind; }
    void setNodeType(nodeType t) { kind = t; }
    nodeAccessRights getAccessRights() const { return accessRights; }
    void setAccessRights(nodeAccessRights a) { accessRights = a; }
    nodeDataType getDataType() const { return dataType; }
    void setDataType(nodeDataType t) { dataType = t; }

    KORUHVNodeValue getNodeValue() const { return nodeValue; }
    /* Stores the value and, for a channel parameter, rebuilds the cell text
     * (and the mirror's) from it. */
    void setNodeValue(KORUHVNodeValue value);
    /* Writes an operator's value through the wrapper: 0 on success (the node
     * takes the value), the refusing code otherwise (the node keeps its old
     * value with quality QUALITY_WRITE_FAILED), -1 when nothing was written. */
    int setNodeEditedValue(QVariant edited);
    /* Board information by name ("ChCount", "BdModel", "BdDescr", "SerNum",
     * "FmwRel") of the given board; does not use this node. */
    KORUHVNodeValue KORUHVGetBoardInfoValue(KORUHVNode *board, QString name);

    /* Subscribe or unsubscribe this one parameter on the event-server port. */
    int KORUHVSubscriptionForNode(bool subscribe);
    int KORUHVSubscribeNode() { return KORUHVSubscriptionForNode(true); }
    int KORUHVUnSubscribeNode() { return KORUHVSubscriptionForNode(false); }

    int getSysHandle() const { return sysHandle; }
    /* Recursive: children, then parameters (properties keep their own). */
    void setSysHandle(int handle);
    int getSystemType() const { return systemType; }
    void setSystemType(int t) { systemType = t; }
    int getVisualIndex() const { return visualIndex; }
    void setVisualIndex(int i) { visualIndex = i; }
    int getCustomViewVisualIndex() const { return customViewVisualIndex; }
    void setCustomViewVisualIndex(int i) { customViewVisualIndex = i; }
    int getSystemConnType() const { return systemConnType; }
    QString getInitParam() const { return initParam; }
    /* Stored only while no address argument is set. */
    void setInitParam(QString text);
    QString getUsername() const { return username; }
    QString getPassword() const { return password; }
    unsigned short getSlotCount() const { return slotCount; }
    void setSlotCount(unsigned short n) { slotCount = n; }
    connStatus getConnectionStatus() const { return connectionStatus; }
    /* Any status other than CONN_OK invalidates the values below. */
    void setConnectionStatus(connStatus status);
    /* Marks the values reached through the children lists with quality 1. */
    void KORUHVInvalidateAllChildren();

    unsigned short getBdChCount() const { return bdChCount; }
    void setBdChCount(unsigned short n) { bdChCount = n; }
    QString getBdModel() const { return bdModel; }
    void setBdModel(QString s) { bdModel = s; }
    QString getBdDescr() const { return bdDescr; }
    void setBdDescr(QString s) { bdDescr = s; }
    unsigned getBdSerNr() const { return bdSerNr; }
    void setBdSerNr(unsigned n) { bdSerNr = n; }
    QString getBdFwRelMin() const { return bdFwRelMin; }
    void setBdFwRelMin(QString s) { bdFwRelMin = s; }
    QString getBdFwRelMax() const { return bdFwRelMax; }
    void setBdFwRelMax(QString s) { bdFwRelMax = s; }
    unsigned short getBdSlotNr() const { return bdSlotNr; }
    void setBdSlotNr(unsigned short n) { bdSlotNr = n; }
    unsigned short getChIdx() const { return chIdx; }
    void setChIdx(unsigned short n) { chIdx = n; }
    QString getSysName() const { return sysName; }
    void setSysName(QString s) { sysName = s; }
    unsigned getParWrapperType() const { return parWrapperType; }
    void setParWrapperType(unsigned t) { parWrapperType = t; }
    QString getBdName() const { return bdName; }
    void setBdName(QString s) { bdName = s; }
    /* Board name on this node, its parameters, its children and theirs. */
    void updateBdNameForAllChildren(QString name);
    QString getChName() const { return chName; }
    void setChName(QString s) { chName = s; }
    QString getExpUnitShortForm() const { return expUnitShortForm; }
    /* Stores the unit text and shows the current value again with it. */
    void setExpUnitShortForm(QString unit);
    int getNodeDecimals() const { return nodeDecimals; }
    void setNodeDecimals(int d) { nodeDecimals = d; }
    bool isNodeEnabled() const { return nodeEnabled; }
    void setNodeEnabled(bool b) { nodeEnabled = b; }
    bool isEnabledInCustomView() const { return enabledInCustomView; }
    void setEnabledInCustomView(bool b) { enabledInCustomView = b; }
    bool getHasLogEnabled() const { return hasLogEnabled; }
    void setHasLogEnabled(bool b) { hasLogEnabled = b; }
    bool getIsAlarmed() const { return isAlarmed; }
    void setIsAlarmed(bool b) { isAlarmed = b; }

    /* The text a channel-parameter cell shows for this node's current value
     * (value, a blank and the unit text; see setNodeValue). */
    QString cellText();

private:
    void colourPowerCell(QTableWidgetItem *cell, bool on) const;

    KORUHVMirrorNode *mirrorNode = nullptr;
    bool isMirror = false;
    QVector<KORUHVNode *> children;
    QVector<KORUHVNode *> parameters;
    QVector<KORUHVNodeProperty *> properties;
    QString nodeName;
    nodeType kind = NODE_GROUP; /* not "type": that would hide QTableWidgetItem::type() */
    /* Left open by the constructor in the original design; given defined
     * start values here (the builder sets both). */
    nodeAccessRights accessRights = ACCESS_READ_ONLY;
    nodeDataType dataType = DATA_INT32;
    KORUHVNodeValue nodeValue;
    int sysHandle = -1;
    int systemType = -1;
    int visualIndex = -1;
    int customViewVisualIndex = -1;
    int systemConnType = -1;
    QString initParam;
    QString username;
    QString password;
    unsigned short slotCount = 0;
    connStatus connectionStatus = CONN_PENDING;
    unsigned short bdChCount = 0;
    QString bdModel;
    QString bdDescr;
    unsigned bdSerNr = 0;
    QString bdFwRelMin;
    QString bdFwRelMax;
    unsigned short bdSlotNr = 0;
    unsigned short chIdx = 0;
    QString sysName;
    unsigned parWrapperType = 0;
    QString bdName;
    QString chName;
    QString expUnitShortForm;
    int nodeDecimals = 2;
    bool nodeEnabled = true;
    bool enabledInCustomView = false;
    bool hasLogEnabled = false;
    bool isAlarmed = false;
};

#endif
