/* The status bar of one system: name, connection text, state word and the
 * three event-status lights. */
#ifndef QSYSTEMSTATUSBAR_H
#define QSYSTEMSTATUSBAR_H

#include "KORUHVTypes.h"

#include <QStatusBar>

class QLabel;

class QSystemStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit QSystemStatusBar(QWidget *parent = nullptr);
    ~QSystemStatusBar() override;

    void setSysNameLabel(QString text);
    void setInitParamLabel(QString text);
    void setConnStatLabel(connStatus status);
    void setEvStatusSync(bool on);
    void setEvStatusAsync(bool on);
    void setEvStatusUnsync(bool on);
    void clearAllEvStatus();

    /* For tests and tools: the texts and the pictures the lights show. */
    QString sysNameText() const;
    QString initParamText() const;
    QString connStatText() const;
    QString connStatStyle() const;
    QString ledPicture(int led) const;

private:
    void setLed(QLabel *led, const char *picture);

    QLabel *sysNameLabel;
    QLabel *initParamLabel;
    QLabel *connStatLabel;
    QLabel *syncLed;
    QLabel *asyncLed;
    QLabel *unsyncLed;
};

#endif
