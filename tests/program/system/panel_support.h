// Helpers of the panel tests: a system tree read through the wrapper in
// use (fake or real), a panel built the way the system controller builds
// it, and the answerer of modal boxes and dialogs they share.
#pragma once

#include "QSystemInformations.h"

#include <QString>

#include <memory>

#include "modal_answer.h"

class KORUHVNode;
class QSystemInterface;

namespace paneltest {

// The system tree of an open wrapper handle: system properties, boards,
// board parameters, channels and channel parameters.
KORUHVNode *buildTree(int handle, int systemType, int linkType, const QString &address,
                      unsigned short slotCount, const QString &name = QStringLiteral("HVSYS"));

// The panel as the system controller makes it, over an interface that owns
// the tree. root may be null (tree not built); type -1 is the custom view.
struct PanelHost {
    PanelHost(int systemType, int linkType, const QString &address, KORUHVNode *root);
    ~PanelHost();
    QSystemInterface *iface = nullptr;
    QSystemInformations *panel = nullptr;
};

// Modal boxes and dialogs: koru_test::ModalAnswerer (modal_answer.h), whose
// default answer rejects a widget no queued handler waits for.
using koru_test::ModalAnswerer;
using koru_test::SeenModal;

// Looks.
bool hasSelectedLook(const QWidget *w);
bool hasUnselectedLook(const QWidget *w);
bool hasPressedLook(const QWidget *w);
bool hasLitLook(const QWidget *w);
// The lamp shows that picture.
bool showsLamp(const QWidget *label, syspanel::Lamp lamp);

} // namespace paneltest
