#include "QConnectDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QTimer>
#include <QVBoxLayout>

#include "AppGlobals.h"
#include "ConnectionSettings.h"
#include "QAutodetectDialog.h"
#include "QCustomComboBox.h"
#include "QCustomLineEdit.h"
#include "QCustomSpinBox.h"

using namespace koruconnect;

namespace {

const char *const kSupplyTypes[] = {"HX4400 / HX5500", "VME HV",  "NIM / DESKTOP HV",   "BQ71XX HV",
                                    "BQ71XXE HV",      "TRIX HV", "POWER SUPPLY BOXES", "P8080"};

/* Connection types offered per supply type (none for the local service). */
QStringList connectionTypes(int psType)
{
    switch (psType) {
    case PsCrate:
    case PsP8080:
        return {"TCP/IP"};
    case PsVmeHv:
        return {"USB", "PCI OPTICAL LINK", "USB3", "ETHERNET", "J6280"};
    case PsNimDesktop:
    case PsBq71xxE:
    case PsTrix:
        return {"TCP/IP", "VCP USB"};
    case PsBq71xx:
        return {"USB", "PCI OPTICAL LINK", "J6280"};
    default:
        return {};
    }
}

} // namespace

void Ui_QConnectDialog::setupUi(QDialog *dialog)
{
    dialog->setObjectName("QConnectDialog");
    dialog->resize(400, 280);
    dialog->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName("verticalLayout");
    verticalLayout->setSpacing(20);

    auto row = [&](QHBoxLayout *&layout, const char *name, QLabel *&lbl, const char *labelName) {
        layout = new QHBoxLayout();
        layout->setObjectName(name);
        layout->setSpacing(30);
        lbl = new QLabel(dialog);
        lbl->setObjectName(labelName);
        layout->addWidget(lbl);
        verticalLayout->addLayout(layout);
    };
    row(horizontalLayout, "horizontalLayout", label, "label");
    editCustName = new QLineEdit(dialog);
    editCustName->setObjectName("editCustName");
    horizontalLayout->addWidget(editCustName);
    row(horizontalLayout_2, "horizontalLayout_2", label_2, "label_2");
    comboPSType = new QComboBox(dialog);
    comboPSType->setObjectName("comboPSType");
    for (const char *t : kSupplyTypes)
        comboPSType->addItem(t);
    horizontalLayout_2->addWidget(comboPSType);
    row(horizontalLayout_3, "horizontalLayout_3", label_3, "label_3");
    comboConnType = new QComboBox(dialog);
    comboConnType->setObjectName("comboConnType");
    horizontalLayout_3->addWidget(comboConnType);

    connParamsGB = new QGroupBox(dialog);
    connParamsGB->setObjectName("connParamsGB");
    connParamsGB->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    verticalLayout->addWidget(connParamsGB);

    l_warning = new QLabel(dialog);
    l_warning->setObjectName("l_warning");
    QPalette palette = l_warning->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    l_warning->setPalette(palette);
    l_warning->setStyleSheet("color: rgb(255, 0, 0);");
    verticalLayout->addWidget(l_warning);

    okButtonLayout = new QHBoxLayout();
    okButtonLayout->setObjectName("okButtonLayout");
    okButtonLayout->setSpacing(4);
    autodetectButton = new QPushButton(dialog);
    autodetectButton->setObjectName("autodetectButton");
    okButtonLayout->addWidget(autodetectButton);
    horizontalSpacer = new QSpacerItem(40, 10, QSizePolicy::Expanding, QSizePolicy::Minimum);
    okButtonLayout->addItem(horizontalSpacer);
    cancelButton = new QPushButton(dialog);
    cancelButton->setObjectName("cancelButton");
    cancelButton->setAutoDefault(false);
    cancelButton->setDefault(false);
    okButtonLayout->addWidget(cancelButton);
    okButton = new QPushButton(dialog);
    okButton->setObjectName("okButton");
    okButton->setDefault(true);
    okButtonLayout->addWidget(okButton);
    verticalLayout->addLayout(okButtonLayout);

    retranslateUi(dialog);
    QObject::connect(cancelButton, &QPushButton::clicked, dialog, &QDialog::reject);
    QObject::connect(okButton, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(dialog, &QDialog::accepted, dialog, &QWidget::close);
    QWidget::setTabOrder(cancelButton, okButton);
    QWidget::setTabOrder(okButton, editCustName);
    QWidget::setTabOrder(editCustName, comboPSType);
    QWidget::setTabOrder(comboPSType, comboConnType);
}

void Ui_QConnectDialog::retranslateUi(QDialog *dialog)
{
    dialog->setWindowTitle("Connect to System");
    label->setText("Power Supply Name");
    label_2->setText("Power Supply Type");
    label_3->setText("Connection Type");
    connParamsGB->setTitle("Connection Parameters");
    l_warning->setText("WARNING: Credential are encrypted. Remote firmware >= 0.10 is required. ");
    autodetectButton->setText("Autodetect");
    cancelButton->setText("Cancel");
    okButton->setText("OK");
}

QConnectDialog::QConnectDialog(QWidget *parent, int yOffset, QWidget *mainWindow)
    : QDialog(parent), ui(new Ui_QConnectDialog), m_mainWindow(mainWindow)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(QIcon(":Resources/buttons/connect-icon.png"));
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    createConnectionParametersGroupWidgets();
    m_groupsBuilt = true;
    createDialogToAutodetectDevices();

    connect(ui->autodetectButton, &QPushButton::clicked, this, &QConnectDialog::showAutodetectDialog);
    connect(ui->editCustName, &QLineEdit::textChanged, this, &QConnectDialog::setCustomName);
    connect(ui->comboPSType, &QComboBox::currentIndexChanged, this, &QConnectDialog::setConnTypeItems);
    connect(ui->comboConnType, &QComboBox::currentIndexChanged, this,
            &QConnectDialog::selectConnectionParameterToShow);
    ui->autodetectButton->hide();

    connect(this, &QDialog::accepted, this, &QConnectDialog::connectToAddress);
    ui->okButton->setEnabled(false);
    setConnTypeItems();
    ui->cancelButton->setFocus();
    restoreLastValues();
    checkFields();
    adjustSize();

    if (parent) {
        move(parent->width() / 2 - width() / 2, yOffset + parent->height() / 2 - height() / 2);
    }
}

QConnectDialog::~QConnectDialog()
{
    delete ui;
}

void QConnectDialog::enableOkButton(bool enable)
{
    ui->okButton->setEnabled(enable);
}

void QConnectDialog::setCustomName()
{
    m_customName = ui->editCustName->text();
}

bool QConnectDialog::discoveryRunning() const
{
    return ui->autodetectButton->text() == "Stop";
}

void QConnectDialog::setConnTypeItems()
{
    const int psType = ui->comboPSType->currentIndex();
    ui->comboConnType->clear();
    ui->comboConnType->show();
    ui->connParamsGB->show();
    ui->label_3->setText("Connection Type");
    if (psType == PsBoxes) {
        ui->comboConnType->hide();
        ui->connParamsGB->hide();
        ui->autodetectButton->hide();
        ui->l_warning->hide();
        ui->label_3->setText("Connection Type:\t          LOCAL SERVICE ");
        closeAutodetectDialog();
        ui->okButton->setEnabled(true);
        return;
    }
    // The first item fires currentIndexChanged, which shows its groups.
    ui->comboConnType->addItems(connectionTypes(psType));
    if (psType == PsCrate || psType == PsP8080) {
        ui->l_warning->setText(
            psType == PsCrate ? "WARNING: Credential are encrypted. Remote firmware >= 2.2.0 is required. "
                              : "WARNING: Credential are encrypted. Remote firmware >= 1.10 is required. ");
        ui->l_warning->show();
        ui->autodetectButton->setVisible(psType == PsCrate);
    } else {
        ui->autodetectButton->hide();
        ui->l_warning->hide();
        closeAutodetectDialog();
    }
    restoreConnectionParameters(false);
    checkFields();
}

ConnectFields QConnectDialog::currentFields() const
{
    ConnectFields f;
    f.psType = ui->comboPSType->currentIndex();
    f.connType = ui->comboConnType->currentIndex();
    f.discoveryRunning = discoveryRunning();
    f.name = m_customName;
    f.user = m_userEdit->text();
    f.password = m_passwordEdit->text();
    for (int i = 0; i < 4; ++i) {
        f.tcpOctets.append(m_ipFields.at(i)->text());
        f.ethOctets.append(m_ipFields.at(4 + i)->text());
    }
    f.tcpLBusIndex = m_tcpLBusCombo->currentIndex();
    f.tcpLBusText = m_tcpLBusCombo->currentText();
    f.serial.port = m_portEdit->text();
    f.serial.baudText = m_baudCombo->currentText();
    f.serial.dataText = m_dataCombo->currentText();
    f.serial.stopIndex = m_stopCombo->currentIndex();
    f.serial.parityIndex = m_parityCombo->currentIndex();
    f.serial.lbusIndex = m_serialLBusCombo->currentIndex();

    // Rows: as many as the shortest list the combination reads.
    auto rowsOf = [](const RowGroup &g, bool links, bool nodes, bool pids) {
        qsizetype n = qMin(g.names.size(), g.bases.size());
        if (links)
            n = qMin(n, g.links.size());
        if (nodes)
            n = qMin(n, g.nodes.size());
        if (pids)
            n = qMin(n, g.pids.size());
        QList<BoardRow> rows;
        for (qsizetype i = 0; i < n; ++i) {
            BoardRow r;
            r.boardName = g.names.at(i)->text();
            r.baseAddress = g.bases.at(i)->text();
            if (links)
                r.link = g.links.at(i)->text();
            if (nodes)
                r.node = g.nodes.at(i)->text();
            if (pids)
                r.pid = g.pids.at(i)->text();
            rows.append(r);
        }
        return rows;
    };
    f.optRows = rowsOf(group(OptRows), true, true, false);
    f.ethRows = rowsOf(group(EthRows), false, false, false);
    f.usb3Rows = rowsOf(group(Usb3Rows), false, false, false);
    if (!f.usb3Rows.isEmpty() && !group(Usb3Rows).pids.isEmpty())
        f.usb3Rows.first().pid = group(Usb3Rows).pids.first()->text();
    f.j6280Rows = rowsOf(group(J6280Rows), false, true, true);
    f.bqPid = m_bqPid->text();
    return f;
}

void QConnectDialog::checkFields()
{
    ui->okButton->setEnabled(false);
    if (!m_groupsBuilt)
        return; // rows built during construction call in early
    ui->okButton->setEnabled(okEnabled(currentFields()));
}

void QConnectDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Sent here once; the standard default-button handling would send again.
        if (ui->okButton->isEnabled() && !discoveryRunning() && m_discoveryDepth == 0)
            accept();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void QConnectDialog::accept()
{
    // OK can be enabled while a run is ending (the panel's stop enables it):
    // closing now would delete the dialog under the run's loop.
    if (m_discoveryDepth > 0) {
        m_acceptAfterDiscovery = true;
        m_autodetect->stopDetecting();
        return;
    }
    QDialog::accept();
}

void QConnectDialog::reject()
{
    // A discovery runs nested in this dialog's slots: stop it and close once
    // its loop has returned, never from inside it.
    if (m_discoveryDepth > 0) {
        m_closeAfterDiscovery = true;
        m_autodetect->stopDetecting();
        return;
    }
    QDialog::reject();
}

void QConnectDialog::connectToAddress()
{
    if (m_requestsSent)
        return;
    if (!getMainWindow())
        return;
    m_requestsSent = true;

    // Everything is composed here, before any request: the dialog is already
    // closed and marked for deletion, and each request processes events, in
    // which the deletion may happen. The requests therefore run from the
    // event loop right after this click, on copies, and never touch the dialog.
    const ConnectFields fields = currentFields();
    const QList<ConnectionRequest> requests = composeRequests(fields);
    SaveCurrentParameters(fields.psType, fields.connType);
    QTimer::singleShot(0, qApp, [fields, requests] { sendConnectionRequests(fields, requests); });
}

void sendConnectionRequests(const ConnectFields &fields, const QList<ConnectionRequest> &requests)
{
    for (const ConnectionRequest &r : requests) {
        MainWindowServices *window = getMainWindow();
        if (!window)
            return;
        window->connectDialogCallback(r.sysType, r.linkType, r.initParam, r.name, r.userOrBoard, r.password);
    }
    std::unique_ptr<QSettings> settings = openConnectionSettings();
    saveLastChoices(*settings, fields);
}

void QConnectDialog::SaveCurrentParameters(int psType, int connType)
{
    ConnectFields fields = currentFields();
    fields.psType = psType;
    fields.connType = connType;
    std::unique_ptr<QSettings> settings = openConnectionSettings();
    saveCurrentParameters(*settings, fields);
}

void QConnectDialog::restoreLastValues()
{
    std::unique_ptr<QSettings> settings = openConnectionSettings();
    m_customName = settings->value("lastCustName").toString();
    ui->editCustName->setText(m_customName);
    ui->comboPSType->setCurrentIndex(settings->value("lastPSType").toInt());
    settings.reset();
    setConnTypeItems();
    restoreConnectionParameters(true);
}

void QConnectDialog::restoreConnectionParameters(bool fromLast)
{
    std::unique_ptr<QSettings> settings = openConnectionSettings();
    int psType = ui->comboPSType->currentIndex();
    int connType = ui->comboConnType->currentIndex();
    if (fromLast) {
        psType = settings->value("lastPSType").toInt();
        connType = settings->value("lastConnType").toInt();
        ui->comboConnType->setCurrentIndex(connType >= 0 && connType < ui->comboConnType->count() ? connType
                                                                                                  : 0);
    }
    applyRemembered(loadParameters(*settings, psType, connType));
}

void QConnectDialog::applyRemembered(const ConnectFields &r)
{
    auto octets = [this](const QStringList &parts, int first) {
        for (int i = 0; i < parts.size() && i < 4; ++i)
            m_ipFields.at(first + i)->setText(parts.at(i));
    };
    switch (r.psType) {
    case PsCrate:
    case PsP8080:
        octets(r.tcpOctets, 0);
        if (ui->comboPSType->currentIndex() == r.psType)
            m_userEdit->setText(r.user);
        break;
    case PsVmeHv:
        if (r.connType == 0 || r.connType == 1) {
            applyRows(r.optRows);
        } else if (r.connType == 2 && !r.usb3Rows.isEmpty()) {
            group(Usb3Rows).pids.first()->setText(r.usb3Rows.first().pid);
            group(Usb3Rows).bases.first()->setText(r.usb3Rows.first().baseAddress);
        } else if (r.connType == 3 && !r.ethRows.isEmpty()) {
            octets(r.ethOctets, 4);
            group(EthRows).bases.first()->setText(r.ethRows.first().baseAddress);
        } else if (r.connType == 4 && !r.j6280Rows.isEmpty()) {
            group(J6280Rows).pids.first()->setText(r.j6280Rows.first().pid);
            group(J6280Rows).nodes.first()->setValue(r.j6280Rows.first().node.toInt());
            group(J6280Rows).bases.first()->setText(r.j6280Rows.first().baseAddress);
        }
        break;
    case PsNimDesktop:
        if (r.connType == 0) {
            octets(r.tcpOctets, 0);
            m_tcpLBusCombo->setCurrentIndex(r.tcpLBusIndex);
        } else if (r.connType == 1) {
            applySerial(r.serial);
        }
        break;
    case PsBq71xx:
        if (r.connType == 0 || r.connType == 1)
            applyRows(r.optRows);
        else if (r.connType == 2)
            m_bqPid->setText(r.bqPid);
        break;
    case PsBq71xxE:
    case PsTrix:
        if (r.connType == 0)
            octets(r.tcpOctets, 0);
        else if (r.connType == 1)
            applySerial(r.serial);
        break;
    default:
        break;
    }
}

void QConnectDialog::applyRows(const QList<BoardRow> &rows)
{
    // Rows are only added by a restore, never removed.
    for (int i = 0; i < rows.size(); ++i) {
        if (i >= group(OptRows).count)
            addNewVMEHVConnectionParametersWidget();
        RowGroup &g = group(OptRows);
        if (i >= g.count)
            break;
        g.names.at(i)->setText(rows.at(i).boardName);
        g.links.at(i)->setValue(rows.at(i).link.toInt());
        g.nodes.at(i)->setValue(rows.at(i).node.toInt());
        g.bases.at(i)->setText(rows.at(i).baseAddress);
    }
}

void QConnectDialog::applySerial(const SerialFields &s)
{
    m_portEdit->setText(s.port);
    auto selectNumber = [](QComboBox *combo, int value) {
        for (int i = 0; i < combo->count(); ++i) {
            bool ok = false;
            if (combo->itemText(i).toInt(&ok) == value && ok) {
                combo->setCurrentIndex(i);
                return;
            }
        }
    };
    selectNumber(m_baudCombo, s.baud());
    selectNumber(m_dataCombo, s.dataBits());
    m_stopCombo->setCurrentIndex(s.stopIndex);
    m_parityCombo->setCurrentIndex(s.parityIndex);
    m_serialLBusCombo->setCurrentIndex(s.lbusIndex);
}
