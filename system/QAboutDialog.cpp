#include "QAboutDialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

/* The about box's form, written as code. */
class Ui_QAboutDialog {
public:
    QVBoxLayout *verticalLayout = nullptr;
    QLabel *imgLabel = nullptr;
    QGroupBox *groupBox = nullptr;
    QVBoxLayout *verticalLayout_2 = nullptr;
    QLabel *nameLabel = nullptr;
    QLabel *versionLabel = nullptr;
    QLabel *label_4 = nullptr;
    QLabel *label_8 = nullptr;
    QLabel *label_6 = nullptr;
    QLabel *label_5 = nullptr;
    QLabel *label_7 = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QPushButton *pushButton = nullptr;

    void setupUi(QDialog *dialog);
};

namespace {

/* The project's own placeholders: no real site, company or address. */
const char *const SiteLink =
    "<a href=\"https://example.org/lumo2020\"><span style=\" text-decoration: underline; "
    "color:#0000ff;\">example.org/lumo2020</span></a>";
const char *const RegionalSiteLink =
    "<a href=\"https://example.org/lumo2020/regional\"><span style=\" "
    "text-decoration: underline; color:#0000ff;\">example.org/lumo2020/regional</span></a>";
const char *const SupportLink =
    "<a href=\"https://example.org/lumo2020/support\"><span style=\" text-decoration: "
    "underline; color:#0000ff;\">Support portal</span></a>";
const char *const RegionalSupportLink =
    "<a href=\"https://example.org/lumo2020/regional/support\"><span style=\" "
    "text-decoration: underline; color:#0000ff;\">Regional support page</span></a>";
const char *const FormSupportLink = "<a href=\"mailto:support@example.org\"><span style=\" text-decoration: "
                                    "underline; color:#0000ff;\">support@example.org</span></a>";
const char *const Licence = "<p style=\"font-size:8pt; font-weight:600;\">Software License<br/>"
                            "Copyright (C) 2020 the LUMO2020 project. All rights reserved.</p>";
const char *const RegionalLicence = "<p style=\"font-size:8pt; font-weight:600;\">Software License<br/>"
                                    "Copyright (C) 2020 the LUMO2020 project, regional office. All rights "
                                    "reserved.</p>";
const char *const Eula = "<a href=\"https://example.org/lumo2020/eula\"><span style=\" font-size:8pt; "
                         "text-decoration: underline; color:#0000ff;\">End User License Agreement</span></a>";

QFont titleFont(bool kerning)
{
    QFont f(QStringLiteral("DejaVu Sans Condensed"), 13);
    f.setWeight(QFont::Bold);
    f.setKerning(kerning);
    return f;
}

} // namespace

void Ui_QAboutDialog::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("QAboutDialog"));
    dialog->resize(520, 425);
    dialog->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    dialog->setMaximumSize(520, 425);
    dialog->setWindowTitle(QStringLiteral("About"));
    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(11, 11, 11, 11);
    imgLabel = new QLabel(dialog);
    imgLabel->setObjectName(QStringLiteral("imgLabel"));
    imgLabel->setMinimumSize(500, 42);
    imgLabel->setMaximumSize(500, 42);
    imgLabel->setScaledContents(false);
    imgLabel->setTextInteractionFlags(Qt::NoTextInteraction);
    imgLabel->setText(QStringLiteral("IMAGE"));
    verticalLayout->addWidget(imgLabel);

    groupBox = new QGroupBox(dialog);
    groupBox->setFlat(true);
    groupBox->setTitle(QString());
    verticalLayout_2 = new QVBoxLayout(groupBox);
    verticalLayout_2->setSpacing(6);
    const QMargins m = verticalLayout_2->contentsMargins();
    verticalLayout_2->setContentsMargins(60, m.top(), 60, m.bottom());

    nameLabel = new QLabel(QStringLiteral("LUMO 2020"), groupBox);
    nameLabel->setObjectName(QStringLiteral("nameLabel"));
    nameLabel->setFont(titleFont(false));
    nameLabel->setAlignment(Qt::AlignCenter);
    versionLabel = new QLabel(QStringLiteral("Version x.x.x"), groupBox);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    versionLabel->setFont(titleFont(true));
    versionLabel->setAlignment(Qt::AlignCenter);
    label_4 = new QLabel(QString::fromLatin1(SiteLink), groupBox);
    label_4->setObjectName(QStringLiteral("label_4"));
    label_4->setAlignment(Qt::AlignCenter);
    label_4->setOpenExternalLinks(true);
    label_8 = new QLabel(QString::fromLatin1(Licence), groupBox);
    label_8->setObjectName(QStringLiteral("label_8"));
    label_6 = new QLabel(QString::fromLatin1(Eula), groupBox);
    label_6->setObjectName(QStringLiteral("label_6"));
    label_6->setOpenExternalLinks(true);
    label_5 = new QLabel(groupBox);
    label_5->setObjectName(QStringLiteral("label_5"));
    label_5->setMaximumWidth(270);
    label_5->setAlignment(Qt::AlignJustify | Qt::AlignVCenter);
    label_5->setWordWrap(true);
    label_5->setText(QStringLiteral("<p style=\"font-size:8pt;\"><br/>Our Software Support Group is "
                                    "available for questions, support and any "
                                    "other software related issue concerning KORU Power "
                                    "Supplies.<br/><br/>For software support, please refer "
                                    "to:</p>"));
    label_7 = new QLabel(QString::fromLatin1(FormSupportLink), groupBox);
    label_7->setObjectName(QStringLiteral("label_7"));
    label_7->setOpenExternalLinks(true);

    verticalLayout_2->addWidget(nameLabel);
    verticalLayout_2->addWidget(versionLabel);
    verticalLayout_2->addWidget(label_4);
    verticalLayout_2->addItem(new QSpacerItem(20, 50, QSizePolicy::Minimum, QSizePolicy::Expanding));
    verticalLayout_2->addWidget(label_8);
    verticalLayout_2->addWidget(label_6);
    verticalLayout_2->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    verticalLayout_2->addWidget(label_5);
    verticalLayout_2->addWidget(label_7);
    verticalLayout->addWidget(groupBox);

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setSpacing(6);
    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    pushButton = new QPushButton(QStringLiteral("Ok"), dialog);
    pushButton->setObjectName(QStringLiteral("pushButton"));
    horizontalLayout->addWidget(pushButton);
    verticalLayout->addLayout(horizontalLayout);
    QObject::connect(pushButton, &QPushButton::clicked, dialog, &QDialog::close);
    QMetaObject::connectSlotsByName(dialog);
}

QAboutDialog::QAboutDialog(QWidget *parent) : QDialog(parent), ui(new Ui_QAboutDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About %0").arg(QStringLiteral("LUMO2020")));
    /* Qt 6 renumbered the territories: compare with the named value. */
    const bool regional = usesRegionalTexts(QLocale().territory());
    ui->nameLabel->setText(QStringLiteral("LUMO2020"));
    ui->versionLabel->setText(QStringLiteral("Version 1.14.0"));
    ui->imgLabel->setPixmap(QPixmap(QStringLiteral(":/Resources/Elementi/logo_about.png")));
    ui->imgLabel->setStyleSheet(QStringLiteral(
        "background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop: 0 #788387, stop: 1 #4e5357);"));
    ui->label_8->setTextFormat(Qt::RichText);
    ui->label_4->setTextFormat(Qt::RichText);
    ui->label_7->setTextFormat(Qt::RichText);
    ui->label_7->setText(QString::fromLatin1(regional ? RegionalSupportLink : SupportLink));
    ui->label_4->setText(QString::fromLatin1(regional ? RegionalSiteLink : SiteLink));
    ui->label_8->setText(QString::fromLatin1(regional ? RegionalLicence : Licence));
}

QAboutDialog::~QAboutDialog()
{
    delete ui;
}
