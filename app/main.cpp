/* LUMO2020: the operator's program. */
#include "KORUHVEventServer.h"
#include "MainWindow.h"
#include "ProgramStartup.h"

#include <QApplication>

int main(int argc, char **argv)
{
    /* The web dialog's engine shares OpenGL contexts; the attribute must be
     * set before the application object exists. */
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
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
