#include "QSystemInterface.h"

#include "KORUHVNode.h"

QSystemInterface::QSystemInterface(int sysType_, int linkType_, QString initParam_, QString sysName_, int widgetIndex_)
    : QWidget(nullptr), sysType(sysType_), linkType(linkType_), initParam(initParam_), sysName(sysName_),
      widgetIndex(widgetIndex_)
{
    setObjectName(QStringLiteral("systemInterface"));
}

QSystemInterface::~QSystemInterface()
{
    delete systemNode;
}

void QSystemInterface::setIsLogStarted(bool started)
{
    isLogStarted = started;
}

void QSystemInterface::clickWidget()
{
    emit clicked(widgetIndex);
}
