#include "AppGlobals.h"

std::atomic<unsigned short> tcpPort{4400};

namespace {
MainWindowServices *theMainWindow = nullptr;
}

MainWindowServices *getMainWindow()
{
    return theMainWindow;
}

void setMainWindow(MainWindowServices *window)
{
    theMainWindow = window;
}
