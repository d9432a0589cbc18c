/* LUMO2020: the operator's program. */
#include "KORUHVEventServer.h"
#include "MainWindow.h"
#include "ProgramStartup.h"
#include "WebEngineSupport.h"

#include <QApplication>

int main(int argc, char **argv)
{
    /* The web dialog's engine: shared OpenGL contexts and, where its
     * sandbox cannot work (as root), the sandbox off; both before the
     * application object exists. */
    webengine::prepareProcess();
    QApplication app(argc, argv);
    MainWindow *window = KORUHVStartProgram();
    const int rc = app.exec();
    /* Every thread ends before main returns: first the event server (it
     * hands connections to the window), then the systems' readers and
     * writers with the window. */
    stopEventServer();
    delete window;
    return rc;
}
