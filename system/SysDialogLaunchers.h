/* What the panel's launcher slots and live updaters do with the system
 * dialogs, as calls of one line each. The panel keeps the button looks: it
 * returns early without a root node, gives its button the pressed look,
 * calls one of these, then restores its looks with setSelected.
 *
 * Modal dialogs run with exec() and delete themselves before it returns; the
 * dialog slots below hold the open dialog in a QPointer that is set before
 * exec() and cleared after it, so a live value reaches the open dialog and
 * never a freed one. GUI thread only. */
#ifndef SYSDIALOGLAUNCHERS_H
#define SYSDIALOGLAUNCHERS_H

#include <QPointer>
#include <QString>

class KORUHVNode;
class QSysInfoDialog;
class QTechInfoDialog;
class QWebBrowserDialog;

namespace sysdlg {

/* Session list of "Sessions" (first whole-name match, any case). Returns
 * exec's result, or -1 without a system node. */
int runSessionDialog(KORUHVNode *system);
/* Crate or rack map with the panel's style sheet. */
int runCrateMapDialog(KORUHVNode *system, const QString &styleSheet);
/* Rack supply: technical information ("Logic" switch); gets no live values. */
int runTechInfoP8080Dialog(KORUHVNode *system, const QString &styleSheet);
/* Rack supply: settings ("ACDCIlim"); the dialog lives on the stack. */
int runSysInfoP8080Dialog(KORUHVNode *system, const QString &styleSheet);
/* Web interface, not modal: a new window per call, null when the system's
 * address is no valid host (then nothing opens) or when the web engine
 * cannot start in this process (then a window shows the address instead). */
QWebBrowserDialog *openWebBrowserDialog(KORUHVNode *system);

/* System information: open() runs the dialog (on type 16 without the
 * command-queue text); update() passes a live value to the open dialog. */
class SysInfoDialogSlot {
public:
    int open(KORUHVNode *system, int systemType, const QString &styleSheet);
    void update(KORUHVNode *node);
    QSysInfoDialog *dialog() const;

private:
    QPointer<QSysInfoDialog> current;
};

/* Mainframe technical information: open() runs the dialog; update() passes a
 * live value to the open dialog (the panel draws its own status lamps). */
class TechInfoDialogSlot {
public:
    int open(KORUHVNode *system, const QString &styleSheet);
    void update(KORUHVNode *node);
    QTechInfoDialog *dialog() const;

private:
    QPointer<QTechInfoDialog> current;
};

} // namespace sysdlg

#endif
