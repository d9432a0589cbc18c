#include "QSysInfoP8080Dialog.h"

#include "KORUHVNode.h"
#include "SysDialogTexts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

QSysInfoP8080Dialog::QSysInfoP8080Dialog(KORUHVNode *system, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("QSysInfoP8080Dialog"));
    resize(318, 207);
    setWindowTitle(tr("System Information"));
    auto *groupBox = new QGroupBox(this);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    groupBox->setGeometry(0, 0, 321, 161);
    auto *horizontalLayout = new QHBoxLayout(groupBox);
    auto *gridLayout = new QGridLayout();
    horizontalLayout->addLayout(gridLayout);
    auto label = [&](const char *name, const QString &text) {
        auto *l = new QLabel(text, groupBox);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    ql_LowFreq = label("ql_LowFreq", QString());
    ql_HiFreq = label("ql_HiFreq", QString());
    ql_RecPeriod = label("ql_RecPeriod", QString());
    ql_RstPeriod = label("ql_RstPeriod", QString());
    cb_48VIl = new QComboBox(groupBox);
    cb_48VIl->setObjectName(QStringLiteral("cb_48VIl"));
    cb_48VIl->addItems(sysdlg::acdcIlimItems());
    const struct {
        const char *captionName, *caption;
        QWidget *value;
        const char *unitName, *unit;
    } rows[] = {{"label_2", "Low Frequency", ql_LowFreq, "label_6", "Hz"},
                {"label_3", "Hi Frequency", ql_HiFreq, "label_7", "Hz"},
                {"label_4", "Recovery Period", ql_RecPeriod, "label_8", "us"},
                {"label_5", "Reset Period", ql_RstPeriod, "label_9", "us"},
                {"label", "48V I Limit", cb_48VIl, "label_10", "A"}};
    int r = 0;
    for (const auto &row : rows) {
        gridLayout->addWidget(label(row.captionName, QString::fromLatin1(row.caption)), r, 0);
        row.value->setLayoutDirection(Qt::RightToLeft);
        gridLayout->addWidget(row.value, r, 1);
        gridLayout->addWidget(label(row.unitName, QString::fromLatin1(row.unit)), r, 2);
        ++r;
    }
    auto *layoutWidget = new QWidget(this);
    layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
    layoutWidget->setGeometry(10, 160, 301, 33);
    auto *hboxLayout = new QHBoxLayout(layoutWidget);
    hboxLayout->setSpacing(6);
    hboxLayout->setContentsMargins(0, 0, 0, 0);
    hboxLayout->addItem(new QSpacerItem(131, 31, QSizePolicy::Expanding, QSizePolicy::Minimum));
    okButton = new QPushButton(tr("OK"), layoutWidget);
    okButton->setObjectName(QStringLiteral("okButton"));
    hboxLayout->addWidget(okButton);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    QLabel *valueOf[] = {ql_LowFreq, ql_HiFreq, ql_RecPeriod, ql_RstPeriod};
    const char *names[] = {"LowFreq", "HighFreq", "RecPeriod", "RstPeriod"};
    for (int i = 0; i < 4; ++i) {
        if (KORUHVNode *p = sysdlg::findParameter(system, QString::fromLatin1(names[i]), true))
            valueOf[i]->setText(p->getNodeValue().KORUHVGetValue().toString());
    }
    ilimNode = sysdlg::findParameter(system, QStringLiteral("ACDCIlim"), true);
    if (ilimNode) {
        storedIlim = ilimNode->getNodeValue().KORUHVGetValue().toInt();
        /* A stored value outside the items selects none. */
        cb_48VIl->setCurrentIndex(sysdlg::acdcIlimIndex(storedIlim));
    }
    connect(okButton, &QPushButton::clicked, this, &QSysInfoP8080Dialog::okButtonClicked);
}

QSysInfoP8080Dialog::~QSysInfoP8080Dialog() = default;

void QSysInfoP8080Dialog::okButtonClicked()
{
    const int chosen = cb_48VIl->currentIndex();
    if (sysdlg::acdcIlimWrites(ilimNode != nullptr, storedIlim, chosen))
        ilimNode->setNodeEditedValue(QVariant(chosen));
}
