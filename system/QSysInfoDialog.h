/* CPU load, memory figures and command-queue state of a crate or rack
 * controller. Live values reach an open dialog through the setters. */
#ifndef QSYSINFODIALOG_H
#define QSYSINFODIALOG_H

#include <QDialog>
#include <QString>

struct Ui_QSysInfoDialog;

class QSysInfoDialog : public QDialog {
    Q_OBJECT
public:
    QSysInfoDialog(QString cpuLoad, QString memStatus, QString cmdQueue, QWidget *parent = nullptr);
    ~QSysInfoDialog() override;

    void setCpuLoad(QString text);
    void setMemStatus(QString text);
    void setCommQueue(QString text);

private:
    Ui_QSysInfoDialog *ui;
};

#endif
