/* The connection dialog's parameter groups: TCP/IP, serial, the four board
 * row groups, the BQ71XX PID; which groups a combination shows; the
 * discovery panel and the address it hands back. */
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "QAutodetectDialog.h"
#include "QConnectDialog.h"
#include "QCustomComboBox.h"
#include "QCustomLineEdit.h"
#include "QCustomSpinBox.h"

using namespace koruconnect;

namespace {

QStringList numbers(int first, int last)
{
    QStringList out;
    for (int i = first; i <= last; ++i)
        out.append(QString::number(i));
    return out;
}

QPushButton *rowButton(QWidget *parent, const char *text, const char *name)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setMaximumWidth(b->sizeHint().height());
    return b;
}

} // namespace

QWidget *QConnectDialog::findWidget(QWidget *container, const QString &name)
{
    if (!container)
        return nullptr;
    if (container->objectName() == name)
        return container;
    QLayout *layout = container->layout();
    if (!layout)
        return nullptr;
    for (int i = 0; i < layout->count(); ++i) {
        QWidget *w = layout->itemAt(i)->widget();
        if (!w)
            continue;
        if (QWidget *hit = findWidget(w, name))
            return hit;
    }
    return nullptr;
}

QCustomLineEdit *QConnectDialog::newLineEdit(QWidget *parent, const QString &placeholder)
{
    auto *e = new QCustomLineEdit(false, parent);
    e->setIsDialogChild();
    if (!placeholder.isEmpty())
        e->setPlaceholderText(placeholder);
    return e;
}

QCustomSpinBox *QConnectDialog::newSpinBox(QWidget *parent, int maximum)
{
    auto *s = new QCustomSpinBox(false, parent);
    s->setIsDialogChild();
    s->setRange(0, maximum);
    return s;
}

QCustomComboBox *QConnectDialog::newCombo(QWidget *parent, const QStringList &items, int index)
{
    auto *c = new QCustomComboBox(parent);
    c->setIsDialogChild();
    c->addItems(items);
    c->setCurrentIndex(index);
    connect(c, &QComboBox::currentIndexChanged, this, &QConnectDialog::checkFields);
    return c;
}

void QConnectDialog::createConnectionParametersGroupWidgets()
{
    ui->editCustName->setPlaceholderText("insert custom name here..");
    auto *layout = new QVBoxLayout(ui->connParamsGB);
    m_tcpWidget = createTcpGroup();
    layout->addWidget(m_tcpWidget);
    layout->addWidget(createRowGroup(OptRows, "optWidget"));
    m_serialWidget = createSerialGroup();
    layout->addWidget(m_serialWidget);
    layout->addWidget(createRowGroup(EthRows, "ethWidget"));
    layout->addWidget(createRowGroup(Usb3Rows, "PIDWidget"));
    layout->addWidget(createRowGroup(J6280Rows, "J6280Widget"));
    m_bqPidWidget = createBqPidGroup();
    layout->addWidget(m_bqPidWidget);
    m_tcpWidget->hide();
    group(OptRows).widget->hide();
    m_serialWidget->hide();
    group(EthRows).widget->hide();
    group(Usb3Rows).widget->hide();
    group(J6280Rows).widget->hide();
    m_bqPidWidget->hide();
    ui->okButton->setEnabled(false);
}

QWidget *QConnectDialog::createIpWidget()
{
    auto *w = new QWidget();
    auto *h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            h->addWidget(new QLabel(".", w));
        QCustomLineEdit *octet = newLineEdit(w);
        octet->setAlignment(Qt::AlignCenter);
        octet->setFixedWidth(50);
        octet->setValidator(new QIntValidator(0, 255, octet));
        octet->setObjectName("ipAddr");
        connect(octet, &QLineEdit::textChanged, this, &QConnectDialog::checkFields);
        h->addWidget(octet);
        m_ipFields.append(octet);
    }
    h->addStretch();
    return w;
}

QWidget *QConnectDialog::createTcpGroup()
{
    auto *w = new QWidget();
    auto *g = new QGridLayout(w);
    g->addWidget(new QLabel("IP Address", w), 0, 0);
    g->addWidget(createIpWidget(), 0, 1);
    m_userLabel = new QLabel("Username", w);
    m_userEdit = newLineEdit(w);
    m_userEdit->setObjectName("Username");
    g->addWidget(m_userLabel, 1, 0);
    g->addWidget(m_userEdit, 1, 1);
    m_passwordLabel = new QLabel("Password", w);
    m_passwordEdit = newLineEdit(w);
    m_passwordEdit->setObjectName("Password");
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_passwordEdit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    g->addWidget(m_passwordLabel, 2, 0);
    g->addWidget(m_passwordEdit, 2, 1);
    connect(m_userEdit, &QLineEdit::textChanged, this, &QConnectDialog::checkFields);
    connect(m_passwordEdit, &QLineEdit::textChanged, this, &QConnectDialog::checkFields);
    m_tcpLBusLabel = new QLabel("LBus Addr", w);
    m_tcpLBusCombo = newCombo(w, numbers(0, 31), 1);
    m_tcpLBusCombo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    g->addWidget(m_tcpLBusLabel, 3, 0);
    g->addWidget(m_tcpLBusCombo, 3, 1);
    return w;
}

QWidget *QConnectDialog::createSerialGroup()
{
    auto *w = new QWidget();
    auto *g = new QGridLayout(w);
    g->setSpacing(10);
    g->setContentsMargins(0, 0, 0, 0);
    m_portEdit = newLineEdit(w, "ttyS..");
    connect(m_portEdit, &QLineEdit::textChanged, this, &QConnectDialog::checkFields);
    m_baudCombo =
        newCombo(w, {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}, 0);
    m_dataCombo = newCombo(w, {"5", "6", "7", "8"}, 3);
    m_stopCombo = newCombo(w, {"1", "1.5", "2"}, 0);
    m_parityCombo = newCombo(w, {"None", "Even", "Odd", "Mark", "Space"}, 0);
    m_serialLBusLabel = new QLabel("LBus Addr", w);
    m_serialLBusCombo = newCombo(w, numbers(0, 31), 0);
    g->addWidget(new QLabel("Port", w), 0, 0);
    g->addWidget(m_portEdit, 0, 1);
    g->addWidget(new QLabel("Baud", w), 0, 2);
    g->addWidget(m_baudCombo, 0, 3);
    g->addWidget(new QLabel("Data", w), 0, 4);
    g->addWidget(m_dataCombo, 0, 5);
    g->addWidget(new QLabel("Stop", w), 1, 0);
    g->addWidget(m_stopCombo, 1, 1);
    g->addWidget(new QLabel("Parity", w), 1, 2);
    g->addWidget(m_parityCombo, 1, 3);
    g->addWidget(m_serialLBusLabel, 1, 4);
    g->addWidget(m_serialLBusCombo, 1, 5);
    return w;
}

QWidget *QConnectDialog::createBqPidGroup()
{
    auto *w = new QWidget();
    w->setObjectName("PIDJ6280Widget");
    auto *g = new QGridLayout(w);
    g->addWidget(new QLabel("PID", w), 0, 0);
    m_bqPid = newLineEdit(w, "Device PID");
    m_bqPid->setObjectName("PID");
    connect(m_bqPid, &QLineEdit::textChanged, this, &QConnectDialog::checkFields);
    g->addWidget(m_bqPid, 0, 1);
    return w;
}

QWidget *QConnectDialog::createRowGroup(RowKind kind, const char *objectName)
{
    auto *w = new QWidget();
    w->setObjectName(objectName);
    auto *g = new QGridLayout(w);
    if (kind == OptRows)
        g->setContentsMargins(0, 0, 0, 0);
    group(kind).widget = w;
    addRow(kind);
    return w;
}

int QConnectDialog::baseColumn(RowKind kind) const
{
    return kind == OptRows || kind == J6280Rows ? 5 : 4;
}

void QConnectDialog::addNewVMEHVConnectionParametersWidget()
{
    addRow(OptRows);
}

void QConnectDialog::addNewVMEHVETHConnectionParametersWidget()
{
    addRow(EthRows);
}

void QConnectDialog::addNewVMEHVPIDConnectionParametersWidget()
{
    addRow(Usb3Rows);
}

void QConnectDialog::addNewVMEHVJ6280ConnectionParametersWidget()
{
    addRow(J6280Rows);
}

void QConnectDialog::removeLastVMEHVConnectionParametersWidget()
{
    removeLastRow(OptRows);
}

void QConnectDialog::removeLastVMEHVETHConnectionParametersWidget()
{
    removeLastRow(EthRows);
}

void QConnectDialog::removeLastVMEHVPIDConnectionParametersWidget()
{
    removeLastRow(Usb3Rows);
}

void QConnectDialog::removeLastVMEHVJ6280ConnectionParametersWidget()
{
    removeLastRow(J6280Rows);
}

void QConnectDialog::placeRowButtons(RowKind kind, int row)
{
    RowGroup &grp = group(kind);
    auto *g = qobject_cast<QGridLayout *>(grp.widget->layout());
    int column = baseColumn(kind) + 1;
    static void (QConnectDialog::*const addSlots[4])() = {
        &QConnectDialog::addNewVMEHVConnectionParametersWidget,
        &QConnectDialog::addNewVMEHVETHConnectionParametersWidget,
        &QConnectDialog::addNewVMEHVPIDConnectionParametersWidget,
        &QConnectDialog::addNewVMEHVJ6280ConnectionParametersWidget};
    static void (QConnectDialog::*const removeSlots[4])() = {
        &QConnectDialog::removeLastVMEHVConnectionParametersWidget,
        &QConnectDialog::removeLastVMEHVETHConnectionParametersWidget,
        &QConnectDialog::removeLastVMEHVPIDConnectionParametersWidget,
        &QConnectDialog::removeLastVMEHVJ6280ConnectionParametersWidget};
    if (row > 0) {
        QPushButton *minus = rowButton(grp.widget, "-", "minus");
        // Queued: the slot deletes the very button whose click runs it.
        connect(minus, &QPushButton::clicked, this, removeSlots[kind], Qt::QueuedConnection);
        g->addWidget(minus, row, column++);
    }
    QPushButton *plus = rowButton(grp.widget, "+", "plus");
    connect(plus, &QPushButton::clicked, this, addSlots[kind], Qt::QueuedConnection);
    g->addWidget(plus, row, column);
}

void QConnectDialog::addRow(RowKind kind)
{
    RowGroup &grp = group(kind);
    auto *g = grp.widget ? qobject_cast<QGridLayout *>(grp.widget->layout()) : nullptr;
    if (!g)
        return;
    delete grp.widget->findChild<QPushButton *>("minus");
    delete grp.widget->findChild<QPushButton *>("plus");
    QWidget *w = grp.widget;
    const int row = grp.count;
    const bool first = row == 0;

    QCustomLineEdit *name = newLineEdit(w, "Board name");
    g->addWidget(name, row, 0);
    QCustomLineEdit *base = newLineEdit(w);
    base->setMaxLength(8);
    if (first)
        base->setObjectName("BaseAddress");
    connect(base, &QLineEdit::textChanged, this, &QConnectDialog::checkFields);

    auto pidField = [&] {
        QCustomLineEdit *pid = newLineEdit(w, "Device PID");
        // Every PID gets the first row's validator and check: each row is validated.
        pid->setValidator(new QIntValidator(0, 999999, pid));
        if (first)
            pid->setObjectName("PID");
        connect(pid, &QLineEdit::textChanged, this, &QConnectDialog::checkFields);
        return pid;
    };

    switch (kind) {
    case OptRows: {
        g->addWidget(new QLabel(first ? "USB / Optical Link Connection" : "VME Connection", w), row, 1);
        QCustomSpinBox *link = newSpinBox(w, 9);
        link->setObjectName("opt1");
        QCustomSpinBox *node = newSpinBox(w, 8);
        node->setObjectName("opt2");
        connect(link, &QSpinBox::valueChanged, this, &QConnectDialog::checkFields);
        connect(node, &QSpinBox::valueChanged, this, &QConnectDialog::checkFields);
        g->addWidget(link, row, 2);
        g->addWidget(node, row, 3);
        grp.links.append(link);
        grp.nodes.append(node);
        // A new row follows the current connection type's node rule.
        if (ui->comboConnType->currentIndex() == 0)
            node->setEnabled(false);
        if (ui->comboPSType->currentIndex() == PsBq71xx) {
            name->hide();
            base->hide();
            base->setEnabled(false);
        }
        break;
    }
    case EthRows:
        if (first) {
            g->addWidget(new QLabel("IP Address", w), row, 1);
            g->addWidget(createIpWidget(), row, 2);
        }
        break;
    case Usb3Rows:
        if (first) {
            g->addWidget(new QLabel("PID", w), row, 1);
            QCustomLineEdit *pid = pidField();
            g->addWidget(pid, row, 2);
            grp.pids.append(pid);
        }
        break;
    case J6280Rows: {
        g->addWidget(new QLabel("PID", w), row, 1);
        QCustomLineEdit *pid = pidField();
        g->addWidget(pid, row, 2);
        grp.pids.append(pid);
        QCustomSpinBox *node = newSpinBox(w, 9);
        node->setObjectName("opt1");
        g->addWidget(node, row, 3);
        grp.nodes.append(node);
        break;
    }
    }
    if (kind == OptRows && !first)
        base->setFixedSize(base->sizeHint());
    g->addWidget(new QLabel("0x", w), row, baseColumn(kind) - 1);
    g->addWidget(base, row, baseColumn(kind));
    grp.names.append(name);
    grp.bases.append(base);
    ++grp.count;
    placeRowButtons(kind, row);
    if (kind == OptRows && ui->comboPSType->currentIndex() == PsBq71xx) {
        for (auto *b : w->findChildren<QPushButton *>())
            b->hide();
    }
    checkFields();
}

void QConnectDialog::removeLastRow(RowKind kind)
{
    RowGroup &grp = group(kind);
    auto *g = grp.widget ? qobject_cast<QGridLayout *>(grp.widget->layout()) : nullptr;
    if (!g || grp.count <= 1)
        return; // the first row has no "-" and stays
    const int row = grp.count - 1;
    for (int c = 0; c < g->columnCount(); ++c) {
        QLayoutItem *item = g->itemAtPosition(row, c);
        if (!item)
            continue;
        g->removeItem(item);
        delete item->widget();
        delete item;
    }
    auto dropLast = [](auto &list) {
        if (!list.isEmpty())
            list.removeLast();
    };
    dropLast(grp.names);
    dropLast(grp.bases);
    if (kind == OptRows) {
        dropLast(grp.links);
        dropLast(grp.nodes);
    } else if (kind == J6280Rows) {
        dropLast(grp.pids);
        dropLast(grp.nodes);
    }
    --grp.count;
    placeRowButtons(kind, grp.count - 1);
    checkFields();
}

void QConnectDialog::setTcpRows(bool userRows, bool lbusRow)
{
    m_userLabel->setVisible(userRows);
    m_userEdit->setVisible(userRows);
    m_passwordLabel->setVisible(userRows);
    m_passwordEdit->setVisible(userRows);
    m_tcpLBusLabel->setVisible(lbusRow);
    m_tcpLBusCombo->setVisible(lbusRow);
}

void QConnectDialog::selectConnectionParameterToShow()
{
    const int ps = ui->comboPSType->currentIndex();
    const int conn = ui->comboConnType->currentIndex();
    if (ps < 0 || conn < 0)
        return;
    for (int i = 0; i < 4; ++i)
        m_ipFields.at(i)->clear();

    QWidget *shown = nullptr;
    if (ps == PsCrate || ps == PsP8080) {
        shown = m_tcpWidget;
        setTcpRows(true, false);
    } else if ((ps == PsNimDesktop || ps == PsBq71xxE || ps == PsTrix) && conn == 0) {
        shown = m_tcpWidget;
        setTcpRows(false, ps == PsNimDesktop);
    } else if ((ps == PsNimDesktop || ps == PsBq71xxE || ps == PsTrix) && conn == 1) {
        shown = m_serialWidget;
        const bool lbus = ps != PsBq71xxE;
        m_serialLBusLabel->setVisible(lbus);
        m_serialLBusCombo->setVisible(lbus);
        if (ps != PsNimDesktop)
            m_serialLBusCombo->setCurrentIndex(-1);
    } else if ((ps == PsVmeHv || ps == PsBq71xx) && (conn == 0 || conn == 1)) {
        RowGroup &grp = group(OptRows);
        shown = grp.widget;
        const bool vme = ps == PsVmeHv;
        for (auto *e : grp.names)
            e->setVisible(vme);
        for (auto *e : grp.bases) {
            e->setVisible(vme);
            e->setEnabled(vme);
        }
        for (auto *b : grp.widget->findChildren<QPushButton *>())
            b->setVisible(vme);
        for (auto *n : grp.nodes) {
            if (conn == 0)
                n->setValue(0);
            n->setEnabled(conn == 1);
        }
    } else if (ps == PsVmeHv && conn == 2) {
        shown = group(Usb3Rows).widget;
    } else if (ps == PsVmeHv && conn == 3) {
        shown = group(EthRows).widget;
    } else if (ps == PsVmeHv && conn == 4) {
        shown = group(J6280Rows).widget;
    } else if (ps == PsBq71xx && conn == 2) {
        shown = m_bqPidWidget;
    }
    if (shown) {
        QWidget *all[] = {m_tcpWidget,           group(OptRows).widget,  m_serialWidget,
                          group(EthRows).widget, group(Usb3Rows).widget, group(J6280Rows).widget,
                          m_bqPidWidget};
        for (QWidget *w : all)
            w->setVisible(w == shown);
    }
    checkFields();
}

void QConnectDialog::createDialogToAutodetectDevices()
{
    if (m_autodetect)
        return;
    m_autodetect = new QAutodetectDialog(this);
    ui->verticalLayout->addWidget(m_autodetect);
    m_autodetect->hide();
    connect(m_autodetect, &QAutodetectDialog::runStateChanged, this, &QConnectDialog::checkFields);
    connect(m_autodetect, &QAutodetectDialog::detectionStopped, this, [this] { enableOkButton(true); });
    connect(m_autodetect, &QAutodetectDialog::panelClosed, this, [this] {
        enableOkButton(true);
        ui->autodetectButton->setText("Autodetect");
    });
    connect(m_autodetect, &QAutodetectDialog::addressChosen, this, &QConnectDialog::setIpValueInFields);
}

void QConnectDialog::closeAutodetectDialog()
{
    if (m_autodetect) {
        m_autodetect->stopDetecting();
        m_autodetect->hide();
        m_autodetect->clearTableWidgetRows();
    }
    ui->autodetectButton->setText("Autodetect");
}

void QConnectDialog::showAutodetectDialog()
{
    if (m_discoveryDepth > 0) {
        // "Stop" pressed: this call runs nested inside the running discovery,
        // which ends at its next step. No second run starts from in here.
        ui->okButton->setEnabled(true);
        if (m_autodetect->isRunning())
            m_autodetect->startButtonClicked();
        ui->autodetectButton->setText("Autodetect");
        checkFields();
        return;
    }
    ui->autodetectButton->setText("Stop");
    m_autodetect->show();
    ui->okButton->setEnabled(false);
    QPointer<QConnectDialog> self(this);
    ++m_discoveryDepth;
    m_autodetect->startButtonClicked();
    if (!self)
        return; // deleted from outside during the run
    --m_discoveryDepth;
    ui->autodetectButton->setText("Autodetect");
    checkFields();
    if (m_closeAfterDiscovery || m_acceptAfterDiscovery) {
        // Cancel, Escape, the close button or OK came during the run.
        const bool accepted = m_acceptAfterDiscovery && !m_closeAfterDiscovery;
        m_closeAfterDiscovery = m_acceptAfterDiscovery = false;
        if (accepted)
            QDialog::accept();
        else
            QDialog::reject();
    }
}

void QConnectDialog::setIpValueInFields(QString address)
{
    if (address.isEmpty())
        return;
    const QStringList parts = address.split('.');
    ui->comboPSType->setCurrentIndex(PsCrate);
    setConnTypeItems();
    ui->comboConnType->setCurrentIndex(0);
    if (parts.size() == 4) {
        for (int i = 0; i < 4; ++i)
            m_ipFields.at(i)->setText(parts.at(i));
    }
    checkFields();
}
