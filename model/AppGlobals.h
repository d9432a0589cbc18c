/* The few program-wide services of the application shell that the node model
 * uses: the event-server port and the main window's group clean-up.
 *
 * The main window is reached through MainWindowServices, an interface of the
 * operations the model needs, so that the model compiles and is tested
 * without the window. The program's MainWindow derives from it and registers
 * itself with setMainWindow() once constructed (and setMainWindow(nullptr)
 * when destroyed); until then getMainWindow() is null and callers skip their
 * use of it. When MainWindow exists, getMainWindow() may return MainWindow*
 * instead: calls made through the interface keep compiling. */
#ifndef APPGLOBALS_H
#define APPGLOBALS_H

#include <atomic>

#include <QString>

class QMainWindow;

/* Port of the program's inbound TCP event server; starts at 4400, raised by
 * the server thread while binding finds the port in use. Subscriptions pass
 * it as their event port. Atomic because the server thread raises it while
 * the GUI thread may read it; it reads and increments like the plain number. */
extern std::atomic<unsigned short> tcpPort;

class MainWindowServices {
public:
    /* Removes from every operator-made group each member of that system and
     * slot (the board is about to be deleted); deletes no node. */
    virtual void removeBoardFromGroups(int sysHandle, unsigned short slot) = 0;

    /* Connects one system (or one W38XX/BQ71XX board row) with the
     * parameters the connection dialog composed; shows its own boxes on
     * failure. The connection dialog and loading a saved customization call
     * it, synchronously on the GUI thread. */
    virtual void connectDialogCallback(int sysType, int linkType, QString initParam, QString name,
                                       QString userOrBoard, QString password)
    {
        (void)sysType, (void)linkType, (void)initParam, (void)name, (void)userOrBoard, (void)password;
    }

    /* The main window as a widget (dock parent, dialog parent); null in tests
     * that stand in for it without a window. */
    virtual QMainWindow *mainWindowWidget() { return nullptr; }

protected:
    ~MainWindowServices() = default;
};

class MainWindow;

/* The program's single main window, or null before it exists. */
MainWindowServices *getMainWindow();
void setMainWindow(MainWindowServices *window);

#endif
