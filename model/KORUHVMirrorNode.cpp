#include "KORUHVMirrorNode.h"

KORUHVMirrorNode::KORUHVMirrorNode(KORUHVNode *reference) : QTableWidgetItem(0), referenceNode(reference) {}

/* The table item base takes the cell out of its table. */
KORUHVMirrorNode::~KORUHVMirrorNode() = default;
