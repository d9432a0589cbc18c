#include "FlagDialogForms.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

void FlagBoxesForm::setupUi(QDialog *dialog, bool reset)
{
    const QString name = reset ? QStringLiteral("QResetFlagsDialog") : QStringLiteral("QGenSignCfgDialog");
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(name);
    if (reset) {
        dialog->resize(234, 305);
        dialog->setWindowIcon(QIcon(QStringLiteral(":/Resources/photos/n_icon.png")));
        dialog->setWindowTitle(QStringLiteral("Reset Flag Configuration"));
    } else {
        dialog->resize(196, 285);
        dialog->setWindowTitle(QStringLiteral("Gen Sign Cfg"));
    }
    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(20);
    verticalLayout->setContentsMargins(20, 20, 20, 20);

    static const char *const genTexts[6] = {"Enable",       "Always",        "Over Voltage",
                                            "Over Current", "Under Voltage", "Trip"};
    static const char *const resetTexts[6] = {
        "CPU Failure -> BP Reset",         "CPU Failure -> CPU Reset",
        "Front Panel Reset -> BP Reset",   "Front Panel Reset -> CPU Reset",
        "User Software Reset -> BP Reset", "User Software Reset -> CPU Reset"};
    QCheckBox **members[6] = {&checkBox0, &checkBox1, &checkBox2, &checkBox3, &checkBox4, &checkBox5};
    for (int i = 0; i < 6; ++i) {
        auto *box = new QCheckBox(dialog);
        box->setObjectName(QStringLiteral("checkBox%1").arg(i));
        box->setText(QString::fromLatin1(reset ? resetTexts[i] : genTexts[i]));
        box->setStyleSheet(reset ? QStringLiteral("color: #444444;") : QString());
        verticalLayout->addWidget(box);
        *members[i] = box;
    }
    checkBox0->setLayoutDirection(Qt::LeftToRight);
    if (reset) {
        checkBox1->setTristate(false);
        verticalLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    } else {
        checkBox0->setIconSize(QSize(16, 16));
        checkBox5->setLayoutDirection(Qt::LeftToRight);
        checkBox5->setTristate(false);
    }
    buttonBox = new QDialogButtonBox(dialog);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    verticalLayout->addWidget(buttonBox);
    QObject::connect(buttonBox, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QMetaObject::connectSlotsByName(dialog);
}

void HVFlagForm::setupUi(QDialog *dialog, bool reset)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(reset ? QStringLiteral("QHVResetDialog") : QStringLiteral("QHVRecoveryDialog"));
    dialog->resize(323, 121);
    dialog->setWindowTitle(QStringLiteral("Dialog"));
    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(5);
    verticalLayout->setContentsMargins(5, 5, 5, 5);
    groupBox = new QGroupBox(dialog);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    groupBox->setTitle(QString());
    verticalLayout_2 = new QVBoxLayout(groupBox);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setSpacing(4);
    verticalLayout_2->setContentsMargins(4, 4, 4, 4);
    gridLayout_2 = new QGridLayout();
    gridLayout_2->setObjectName(QStringLiteral("gridLayout_2"));
    QPushButton **members[6] = {&pushButton_0, &pushButton_1, &pushButton_2,
                                &pushButton_3, &pushButton_4, &pushButton_5};
    const QString text = reset ? QStringLiteral("HV Reset %1") : QStringLiteral("HV Recovery %1");
    for (int i = 0; i < 6; ++i) {
        auto *b = new QPushButton(groupBox);
        b->setObjectName(QStringLiteral("pushButton_%1").arg(i));
        b->setText(text.arg(i));
        gridLayout_2->addWidget(b, i / 3, i % 3);
        *members[i] = b;
    }
    verticalLayout_2->addLayout(gridLayout_2);
    verticalLayout->addWidget(groupBox);
    hboxLayout = new QHBoxLayout();
    hboxLayout->setObjectName(QStringLiteral("hboxLayout"));
    hboxLayout->setSpacing(6);
    hboxLayout->setContentsMargins(0, 0, 0, 0);
    hboxLayout->addItem(new QSpacerItem(131, 31, QSizePolicy::Expanding, QSizePolicy::Minimum));
    okButton = new QPushButton(dialog);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setText(QStringLiteral("OK"));
    hboxLayout->addWidget(okButton);
    verticalLayout->addLayout(hboxLayout);
    QObject::connect(okButton, &QPushButton::clicked, dialog, &QDialog::accept);
    QMetaObject::connectSlotsByName(dialog);
}
