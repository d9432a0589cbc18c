#include "QSysInfoDialog.h"

#include "SysDialogTexts.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {
const char *const kCaptionStyle = "color: #444444;";
const char *const kValueStyle = "color: #35a912; font: bold;";
} // namespace

struct Ui_QSysInfoDialog {
    QGroupBox *cpuLoadGB, *MemStatGB, *groupBox;
    QLabel *oneMin, *fiveMin, *fifteenMin, *total, *free, *used, *buffers, *cmdQueue;
    QPushButton *closeButton;

    static QLabel *caption(const char *name, const QString &text, QWidget *parent)
    {
        auto *l = new QLabel(text, parent);
        l->setObjectName(QString::fromLatin1(name));
        l->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        l->setStyleSheet(QString::fromLatin1(kCaptionStyle));
        return l;
    }
    static QLabel *value(const char *name, QWidget *parent)
    {
        auto *l = new QLabel(parent);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    }

    void setupUi(QDialog *d)
    {
        if (d->objectName().isEmpty())
            d->setObjectName(QStringLiteral("QSysInfoDialog"));
        d->resize(490, 371);
        auto *verticalLayout = new QVBoxLayout(d);

        cpuLoadGB = new QGroupBox(QDialog::tr("CPU Load"), d);
        cpuLoadGB->setObjectName(QStringLiteral("cpuLoadGB"));
        cpuLoadGB->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        auto *h2 = new QHBoxLayout(cpuLoadGB);
        h2->setSpacing(15);
        h2->setContentsMargins(-1, 20, -1, 20);
        oneMin = value("oneMin", cpuLoadGB);
        fiveMin = value("fiveMin", cpuLoadGB);
        fifteenMin = value("fifteenMin", cpuLoadGB);
        h2->addWidget(caption("label_16", QStringLiteral("1 min:"), cpuLoadGB));
        h2->addWidget(oneMin);
        h2->addWidget(caption("label_20", QStringLiteral("5 min:"), cpuLoadGB));
        h2->addWidget(fiveMin);
        h2->addWidget(caption("label", QStringLiteral("15 min:"), cpuLoadGB));
        h2->addWidget(fifteenMin);
        verticalLayout->addWidget(cpuLoadGB);

        MemStatGB = new QGroupBox(QStringLiteral("Memory Status"), d);
        MemStatGB->setObjectName(QStringLiteral("MemStatGB"));
        MemStatGB->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        auto *grid = new QGridLayout(MemStatGB);
        grid->setHorizontalSpacing(15);
        grid->setVerticalSpacing(20);
        grid->setContentsMargins(-1, 20, -1, 20);
        total = value("total", MemStatGB);
        used = value("used", MemStatGB);
        free = value("free", MemStatGB);
        buffers = value("buffers", MemStatGB);
        grid->addWidget(caption("label_23", QStringLiteral("Total:"), MemStatGB), 0, 0);
        grid->addWidget(total, 0, 1);
        grid->addWidget(caption("label_18", QStringLiteral("Used:"), MemStatGB), 0, 3);
        grid->addWidget(used, 0, 4);
        grid->addWidget(caption("label_19", QStringLiteral("Free:"), MemStatGB), 1, 0);
        grid->addWidget(free, 1, 1);
        grid->addWidget(caption("label_22", QStringLiteral("Buffers:"), MemStatGB), 1, 3);
        grid->addWidget(buffers, 1, 4);
        verticalLayout->addWidget(MemStatGB);

        groupBox = new QGroupBox(QString(), d);
        groupBox->setObjectName(QStringLiteral("groupBox"));
        auto *h3 = new QHBoxLayout(groupBox);
        h3->setSpacing(15);
        h3->setContentsMargins(-1, 20, -1, 20);
        cmdQueue = value("cmdQueue", groupBox);
        h3->addWidget(caption("label_17", QStringLiteral("Command Queue Status:"), groupBox));
        h3->addWidget(cmdQueue);
        verticalLayout->addWidget(groupBox);

        auto *h = new QHBoxLayout();
        h->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        closeButton = new QPushButton(QStringLiteral("Close"), d);
        closeButton->setObjectName(QStringLiteral("closeButton"));
        closeButton->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
        closeButton->setDefault(true);
        h->addWidget(closeButton);
        verticalLayout->addLayout(h);
        QObject::connect(closeButton, &QPushButton::clicked, d, &QDialog::accept);
        d->setWindowTitle(QStringLiteral("System Informations"));
    }
};

QSysInfoDialog::QSysInfoDialog(QString cpuLoad, QString memStatus, QString cmdQueue, QWidget *parent)
    : QDialog(parent), ui(new Ui_QSysInfoDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    for (QLabel *l :
         {ui->oneMin, ui->fiveMin, ui->fifteenMin, ui->buffers, ui->free, ui->total, ui->used, ui->cmdQueue})
        l->setStyleSheet(QString::fromLatin1(kValueStyle));
    ui->groupBox->hide();
    setCpuLoad(cpuLoad);
    setMemStatus(memStatus);
    if (!cmdQueue.isEmpty())
        setCommQueue(cmdQueue);
}

QSysInfoDialog::~QSysInfoDialog()
{
    delete ui;
}

void QSysInfoDialog::setCpuLoad(QString text)
{
    const QStringList f = sysdlg::cpuLoadFields(text);
    QLabel *labels[] = {ui->oneMin, ui->fiveMin, ui->fifteenMin};
    for (int i = 0; i < f.size(); ++i)
        labels[i]->setText(f.at(i));
}

void QSysInfoDialog::setMemStatus(QString text)
{
    const QStringList f = sysdlg::memStatusFields(text);
    QLabel *labels[] = {ui->total, ui->free, ui->used, ui->buffers};
    for (int i = 0; i < f.size(); ++i)
        labels[i]->setText(f.at(i));
}

void QSysInfoDialog::setCommQueue(QString text)
{
    if (text.isEmpty())
        return;
    ui->cmdQueue->setText(text);
    ui->groupBox->show();
}
