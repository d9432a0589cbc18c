// Helpers of the panel tests: a system tree read through the wrapper in
// use (fake or real), a panel built the way the system controller builds
// it, and an answerer for modal boxes and dialogs.
#pragma once

#include "QSystemInformations.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

#include "wait_progress.h"

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

// What a handled modal widget showed.
struct SeenModal {
    QString title;
    QString text;
    QString informative;
    QString className;
};

// Answers modal widgets in the order they appear: each handler gets the
// next new active modal widget. A modal widget that finds no handler is
// rejected at once (and listed in seen()), so nothing hangs; a handler that
// waits longer than the bound is dropped and timedOut() turns true.
class ModalAnswerer {
public:
    using Handler = std::function<void(QWidget *)>;
    explicit ModalAnswerer(int boundMs = koru_test::kHangGuardMs);
    ~ModalAnswerer();
    void then(Handler handler);
    // A message box answered with that button.
    void thenButton(QMessageBox::StandardButton button);
    bool timedOut() const { return timedOutFlag; }
    int pending() const { return int(handlers.size()); }
    const std::vector<SeenModal> &seen() const { return seenModals; }

private:
    void poll();
    std::deque<Handler> handlers;
    std::vector<SeenModal> seenModals;
    QPointer<QWidget> last;
    QTimer timer;
    int elapsedMs = 0;
    int boundMs;
    bool timedOutFlag = false;
};

// Looks.
bool hasSelectedLook(const QWidget *w);
bool hasUnselectedLook(const QWidget *w);
bool hasPressedLook(const QWidget *w);
bool hasLitLook(const QWidget *w);
// The lamp shows that picture.
bool showsLamp(const QWidget *label, syspanel::Lamp lamp);

} // namespace paneltest
