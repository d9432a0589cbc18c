/* The network-discovery panel inside the connection dialog: a result table,
 * a busy bar, a help and a close button. A run is DeviceDiscovery's loop on
 * the GUI thread; every way of stopping it sets the stop flag, which the
 * loop reads after each step. The panel tells its dialog what happened by
 * signals; it knows nothing of the dialog. */
#ifndef QAUTODETECTDIALOG_H
#define QAUTODETECTDIALOG_H

#include <QWidget>

#include "DeviceDiscovery.h"

class QHBoxLayout;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QVBoxLayout;

class Ui_QAutodetectDialog {
public:
    QVBoxLayout *verticalLayout = nullptr;
    QTableWidget *tableWidget = nullptr;
    QHBoxLayout *hboxLayout = nullptr;
    QProgressBar *progressBar = nullptr;
    QPushButton *helpButton = nullptr;
    QPushButton *closeButton = nullptr;

    void setupUi(QWidget *form);
    void retranslateUi(QWidget *form);
};

class QAutodetectDialog : public QWidget {
    Q_OBJECT
public:
    explicit QAutodetectDialog(QWidget *parent = nullptr);
    ~QAutodetectDialog() override;

    int detectDevices();
    int insertDeviceInList(QString text);
    void clearTableWidgetRows();
    void stopDetecting();
    bool isRunning() const { return !m_stop; }
    QTableWidget *table() const;

Q_SIGNALS:
    /* A start or stop press has been handled (a run, if one started, has
     * ended): the dialog's fields want checking again. */
    void runStateChanged();
    /* stopDetecting: nothing holds the dialog's OK back any more. */
    void detectionStopped();
    /* The Close button hid the panel. */
    void panelClosed();
    /* A double-clicked row's IP address. */
    void addressChosen(const QString &address);

public Q_SLOTS:
    void startButtonClicked();
    void closeButtonClicked();
    void setIpField(QTableWidgetItem *itm);
    void showHelpMessageBox();

private:
    void addRow(const koruconnect::DiscoveredDevice &device);

    Ui_QAutodetectDialog *ui;
    bool m_stop = true;
    koruconnect::DeviceDiscovery m_discovery;
};

#endif
