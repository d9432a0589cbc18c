/* The "Connect to System" dialog: supply type, connection type and the
 * parameters of that combination; OK sends one connection request per
 * system or board row to the main window. The decisions (OK rule, address
 * arguments, remembered values) are plain functions of ConnectionRequest.h
 * and ConnectionSettings.h; this class builds widgets, copies them into
 * ConnectFields and shows the outcome. */
#ifndef QCONNECTDIALOG_H
#define QCONNECTDIALOG_H

#include <QDialog>
#include <QList>

#include "ConnectionRequest.h"

class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;
class QSpacerItem;
class QVBoxLayout;
class QCustomComboBox;
class QCustomLineEdit;
class QCustomSpinBox;
class QAutodetectDialog;

class Ui_QConnectDialog {
public:
    QVBoxLayout *verticalLayout = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QLabel *label = nullptr;
    QLineEdit *editCustName = nullptr;
    QHBoxLayout *horizontalLayout_2 = nullptr;
    QLabel *label_2 = nullptr;
    QComboBox *comboPSType = nullptr;
    QHBoxLayout *horizontalLayout_3 = nullptr;
    QLabel *label_3 = nullptr;
    QComboBox *comboConnType = nullptr;
    QGroupBox *connParamsGB = nullptr;
    QLabel *l_warning = nullptr;
    QHBoxLayout *okButtonLayout = nullptr;
    QPushButton *autodetectButton = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *okButton = nullptr;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};

/* Sends the composed requests in order through the main window's
 * connectDialogCallback, then writes the last choices. Touches no dialog. */
void sendConnectionRequests(const koruconnect::ConnectFields &fields,
                            const QList<koruconnect::ConnectionRequest> &requests);

class QConnectDialog : public QDialog {
    Q_OBJECT
public:
    QConnectDialog(QWidget *parent, int yOffset, QWidget *mainWindow);
    ~QConnectDialog() override;

    void enableOkButton(bool enable);
    void setIpValueInFields(QString address);
    void closeAutodetectDialog();
    void restoreLastValues();
    void restoreConnectionParameters(bool fromLast);
    void SaveCurrentParameters(int psType, int connType);

    /* The fields as they stand, for the OK rule, the requests and the store. */
    koruconnect::ConnectFields currentFields() const;
    QAutodetectDialog *autodetectDialog() const { return m_autodetect; }

    static QWidget *findWidget(QWidget *container, const QString &name);

public Q_SLOTS:
    void setCustomName();
    void connectToAddress();
    void checkFields();
    void addNewVMEHVConnectionParametersWidget();
    void addNewVMEHVETHConnectionParametersWidget();
    void addNewVMEHVPIDConnectionParametersWidget();
    void addNewVMEHVJ6280ConnectionParametersWidget();
    void removeLastVMEHVConnectionParametersWidget();
    void removeLastVMEHVETHConnectionParametersWidget();
    void removeLastVMEHVPIDConnectionParametersWidget();
    void removeLastVMEHVJ6280ConnectionParametersWidget();
    void selectConnectionParameterToShow();
    void setConnTypeItems();
    void showAutodetectDialog();

    void accept() override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    enum RowKind { OptRows, EthRows, Usb3Rows, J6280Rows };
    struct RowGroup {
        QWidget *widget = nullptr;
        QList<QCustomLineEdit *> names;
        QList<QCustomSpinBox *> links;
        QList<QCustomSpinBox *> nodes;
        QList<QCustomLineEdit *> bases;
        QList<QCustomLineEdit *> pids;
        int count = 0;
    };

    void createConnectionParametersGroupWidgets();
    QWidget *createIpWidget();
    void createDialogToAutodetectDevices();
    QWidget *createTcpGroup();
    QWidget *createSerialGroup();
    QWidget *createRowGroup(RowKind kind, const char *objectName);
    QWidget *createBqPidGroup();
    QCustomLineEdit *newLineEdit(QWidget *parent, const QString &placeholder = QString());
    QCustomSpinBox *newSpinBox(QWidget *parent, int maximum);
    QCustomComboBox *newCombo(QWidget *parent, const QStringList &items, int index);
    void addRow(RowKind kind);
    void removeLastRow(RowKind kind);
    void placeRowButtons(RowKind kind, int row);
    int baseColumn(RowKind kind) const;
    RowGroup &group(RowKind kind) { return m_rows[kind]; }
    const RowGroup &group(RowKind kind) const { return m_rows[kind]; }
    void setTcpRows(bool userRows, bool lbusRow);
    void applyRemembered(const koruconnect::ConnectFields &remembered);
    void applyRows(const QList<koruconnect::BoardRow> &rows);
    void applySerial(const koruconnect::SerialFields &serial);
    bool discoveryRunning() const;

    Ui_QConnectDialog *ui;
    QWidget *m_mainWindow = nullptr;
    QString m_customName;
    bool m_requestsSent = false;
    bool m_groupsBuilt = false;
    bool m_closeAfterDiscovery = false;
    bool m_acceptAfterDiscovery = false;
    int m_discoveryDepth = 0; // showAutodetectDialog calls under way

    QWidget *m_tcpWidget = nullptr;
    QList<QCustomLineEdit *> m_ipFields; // 0..3 TCP/IP, 4..7 Ethernet
    QLabel *m_userLabel = nullptr;
    QCustomLineEdit *m_userEdit = nullptr;
    QLabel *m_passwordLabel = nullptr;
    QCustomLineEdit *m_passwordEdit = nullptr;
    QLabel *m_tcpLBusLabel = nullptr;
    QCustomComboBox *m_tcpLBusCombo = nullptr;

    QWidget *m_serialWidget = nullptr;
    QCustomLineEdit *m_portEdit = nullptr;
    QCustomComboBox *m_baudCombo = nullptr;
    QCustomComboBox *m_dataCombo = nullptr;
    QCustomComboBox *m_stopCombo = nullptr;
    QCustomComboBox *m_parityCombo = nullptr;
    QLabel *m_serialLBusLabel = nullptr;
    QCustomComboBox *m_serialLBusCombo = nullptr;

    RowGroup m_rows[4];
    QWidget *m_bqPidWidget = nullptr;
    QCustomLineEdit *m_bqPid = nullptr;

    QAutodetectDialog *m_autodetect = nullptr;
};

#endif
