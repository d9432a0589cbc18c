/* The second table cell of a channel parameter, for a table other than its
 * system's own (a table item belongs to one table only). Does not own the
 * node it stands for; the node owns and deletes its mirror. */
#ifndef KORUHVMIRRORNODE_H
#define KORUHVMIRRORNODE_H

#include <QTableWidgetItem>

class KORUHVNode;

class KORUHVMirrorNode : public QTableWidgetItem {
public:
    explicit KORUHVMirrorNode(KORUHVNode *reference);
    ~KORUHVMirrorNode() override;

    KORUHVMirrorNode(const KORUHVMirrorNode &) = delete;
    KORUHVMirrorNode &operator=(const KORUHVMirrorNode &) = delete;

    KORUHVNode *getReferenceNode() const { return referenceNode; }
    bool isMirrorNode() const { return isMirror; }

private:
    KORUHVNode *referenceNode;
    bool isMirror = true;
};

#endif
