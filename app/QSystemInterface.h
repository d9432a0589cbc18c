/* Stand-in of the system controller with only what the system panel uses:
 * the connection data, the root node and the two slots the panel's signals
 * reach. The shell's full class replaces this file. */
#ifndef QSYSTEMINTERFACE_H
#define QSYSTEMINTERFACE_H

#include <QString>
#include <QWidget>

class KORUHVNode;

class QSystemInterface : public QWidget {
    Q_OBJECT
public:
    QSystemInterface(int sysType, int linkType, QString initParam, QString sysName, int widgetIndex);
    ~QSystemInterface() override;

    int getSysType() const { return sysType; }
    int getSysConnType() const { return linkType; }
    QString getSysInitParam() const { return initParam; }
    KORUHVNode *getSystemNode() const { return systemNode; }
    void setSystemNode(KORUHVNode *node) { systemNode = node; }
    int getWidgetIndex() const { return widgetIndex; }
    bool getIsLogStarted() const { return isLogStarted; }

signals:
    void clicked(int index);

public slots:
    void setIsLogStarted(bool started);
    void clickWidget();

private:
    int sysType;
    int linkType;
    QString initParam;
    QString sysName;
    int widgetIndex;
    KORUHVNode *systemNode = nullptr;
    bool isLogStarted = false;
};

#endif
