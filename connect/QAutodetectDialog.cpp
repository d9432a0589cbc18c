#include "QAutodetectDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

using koruconnect::DiscoveredDevice;

void Ui_QAutodetectDialog::setupUi(QWidget *form)
{
    form->setObjectName("QAutodetectDialog");
    form->resize(461, 300);
    verticalLayout = new QVBoxLayout(form);
    verticalLayout->setObjectName("verticalLayout");
    verticalLayout->setContentsMargins(0, 9, 0, 9);
    tableWidget = new QTableWidget(form);
    tableWidget->setObjectName("tableWidget");
    tableWidget->setColumnCount(5);
    tableWidget->setStyleSheet(
        "QTableWidget::item:selected { background-color: #bfff27; color: #383838; border: none; }"
        "QHeaderView::section:checked { color: #bfff27; }");
    tableWidget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableWidget->setSelectionMode(QAbstractItemView::SingleSelection);
    tableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableWidget->setCornerButtonEnabled(false);
    verticalLayout->addWidget(tableWidget);
    hboxLayout = new QHBoxLayout();
    hboxLayout->setObjectName("hboxLayout");
    hboxLayout->setSpacing(6);
    hboxLayout->setContentsMargins(0, 0, 0, 0);
    progressBar = new QProgressBar(form);
    progressBar->setObjectName("progressBar");
    progressBar->setRange(0, 0);
    progressBar->setValue(-1);
    progressBar->setTextVisible(false);
    progressBar->setFormat(QString());
    helpButton = new QPushButton(form);
    helpButton->setObjectName("helpButton");
    helpButton->setIcon(QIcon(":/Resources/buttons/help.png"));
    helpButton->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    closeButton = new QPushButton(form);
    closeButton->setObjectName("closeButton");
    closeButton->setDefault(true);
    hboxLayout->addWidget(helpButton);
    hboxLayout->addWidget(closeButton);
    verticalLayout->addLayout(hboxLayout);
    retranslateUi(form);
}

void Ui_QAutodetectDialog::retranslateUi(QWidget *form)
{
    form->setWindowTitle(QString());
    tableWidget->setHorizontalHeaderLabels({"Model", "IP Address", "S/N", "Fw rel", "Tarmin"});
    helpButton->setText(QString());
    closeButton->setText("Close");
}

QAutodetectDialog::QAutodetectDialog(QWidget *parent) : QWidget(parent), ui(new Ui_QAutodetectDialog)
{
    ui->setupUi(this);
    ui->hboxLayout->insertWidget(0, ui->progressBar, 3);
    const int widths[5] = {80, 100, 36, 47, 47};
    for (int c = 0; c < 5; ++c)
        ui->tableWidget->setColumnWidth(c, widths[c]);
    ui->tableWidget->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->tableWidget->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    connect(ui->closeButton, &QPushButton::clicked, this, &QAutodetectDialog::closeButtonClicked);
    connect(ui->tableWidget, &QTableWidget::itemDoubleClicked, this, &QAutodetectDialog::setIpField);
    connect(ui->helpButton, &QPushButton::clicked, this, &QAutodetectDialog::showHelpMessageBox);
}

QAutodetectDialog::~QAutodetectDialog()
{
    m_stop = true;
    delete ui;
}

QTableWidget *QAutodetectDialog::table() const
{
    return ui->tableWidget;
}

void QAutodetectDialog::startButtonClicked()
{
    if (m_stop) {
        clearTableWidgetRows();
        ui->progressBar->setRange(0, 0);
        ui->progressBar->setValue(0);
        m_stop = false;
        QPointer<QAutodetectDialog> self(this);
        detectDevices();
        if (!self)
            return;
        ui->progressBar->setRange(0, 100);
        ui->progressBar->setValue(100);
        m_stop = true;
    } else {
        m_stop = true;
        ui->progressBar->setRange(0, 100);
        ui->progressBar->setValue(100);
    }
    emit runStateChanged();
}

int QAutodetectDialog::detectDevices()
{
    QPointer<QAutodetectDialog> self(this);
    auto step = [self] {
        QCoreApplication::processEvents();
        return self && !self->m_stop;
    };
    auto found = [self](const DiscoveredDevice &device) {
        if (self)
            self->addRow(device);
    };
    return m_discovery.run(step, found);
}

void QAutodetectDialog::addRow(const DiscoveredDevice &device)
{
    const int row = ui->tableWidget->rowCount();
    ui->tableWidget->insertRow(row);
    const QString cells[5] = {device.fields.value(0), device.address, device.fields.value(1),
                              device.fields.value(2), device.fields.value(3)};
    for (int c = 0; c < 5; ++c)
        ui->tableWidget->setItem(row, c, new QTableWidgetItem(cells[c]));
}

int QAutodetectDialog::insertDeviceInList(QString text)
{
    return m_discovery.insertDeviceInList(text);
}

void QAutodetectDialog::clearTableWidgetRows()
{
    ui->tableWidget->setRowCount(0);
    ui->tableWidget->clearContents();
    QCoreApplication::processEvents();
    m_discovery.clearKnown();
    QThread::usleep(500);
}

void QAutodetectDialog::stopDetecting()
{
    m_stop = true;
    emit detectionStopped();
}

void QAutodetectDialog::closeButtonClicked()
{
    m_stop = true;
    hide();
    emit panelClosed();
}

void QAutodetectDialog::setIpField(QTableWidgetItem *itm)
{
    if (!itm)
        return;
    m_stop = true;
    const int row = itm->tableWidget() ? itm->row() : -1;
    QTableWidgetItem *address = row >= 0 ? ui->tableWidget->item(row, 1) : nullptr;
    if (address)
        emit addressChosen(address->text());
    ui->tableWidget->clearSelection();
    ui->tableWidget->setCurrentCell(-1, -1);
}

void QAutodetectDialog::showHelpMessageBox()
{
    QMessageBox box(QMessageBox::Warning, "LUMO2020",
                    "This feature works only with HX4400 / HX5500\ndevices with fw release from v 1.3.0.\n\n"
                    "IMPORTANT NOTICE: mainframes outside the\nlocal network must have gateway set,in order\n"
                    "to be discovered.",
                    QMessageBox::Ok, this);
    box.exec();
}
