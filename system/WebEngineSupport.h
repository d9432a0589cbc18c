/* Whether the web engine of the "SETTINGS" window can run in this process,
 * and what the program does so that it can.
 *
 * The engine ends the whole process where it cannot start: as root with its
 * sandbox on it exits, without its helper program it aborts, and without a
 * usable sandbox it stops; without its resources it aborts as well. The program therefore switches the
 * sandbox off where the sandbox cannot work (said in the log), before the application object exists, and
 * looks at the engine's needs before any engine object is made; when they are not met the mainframe's address
 * is shown instead. */
#ifndef WEBENGINESUPPORT_H
#define WEBENGINESUPPORT_H

#include <QString>
#include <QUrl>

class QDialog;

namespace webengine {

/* Whether the engine's sandbox has to be off: as root the engine refuses
 * it, and without user namespaces it has none that works. */
bool sandboxMustBeOff(bool runningAsRoot, bool userNamespacesWork);
/* Whether the sandbox is off by the engine's own switches: the variable
 * QTWEBENGINE_DISABLE_SANDBOX set, or "--no-sandbox" among the words of
 * QTWEBENGINE_CHROMIUM_FLAGS. */
bool sandboxSwitchedOff(bool disableVariableSet, const QByteArray &chromiumFlags);

/* Called by main() before the QApplication is made: shared OpenGL contexts
 * (the engine asks for them) and the sandbox switched off where it must be,
 * with a line in the log saying so and why. */
void prepareProcess();

/* The helper program as the engine looks for it: QTWEBENGINEPROCESS_PATH
 * when set, otherwise the first existing of Qt's executables folder and the
 * program's folder. Empty when none exists. */
QString helperProgramPath();
/* The folder of the engine's resources as the engine looks for it
 * (QTWEBENGINE_RESOURCES_PATH when set, otherwise Qt's data folders and the
 * program's folder); empty when none holds them. */
QString resourcesFolder();
/* Why the engine cannot start in this process, in words for the operator;
 * empty when it can (its helper exists and is executable, its resources are
 * there, and the sandbox is off where it must be). */
QString whyEngineCannotStart();

/* Tests: the helper's path to look at instead of the engine's own search
 * (empty: back to the engine's search). */
void setHelperProgramPathForTest(const QString &path);

/* The window shown instead of the web view: the reason, the mainframe's
 * address (selectable) and "Open in Browser", which hands the address (never
 * the login) to the desktop's browser. Not modal, deletes itself on close. */
QDialog *showAddressInstead(const QUrl &start, const QString &reason);

} // namespace webengine

#endif
