#include "AppGlobals.h"

std::atomic<unsigned short> tcpPort{4400};

namespace {
/* Read by the event threads while the GUI thread may clear it. */
std::atomic<MainWindowServices *> theMainWindow{nullptr};
} // namespace

MainWindowServices *getMainWindow()
{
    return theMainWindow.load();
}

void setMainWindow(MainWindowServices *window)
{
    theMainWindow.store(window);
}
