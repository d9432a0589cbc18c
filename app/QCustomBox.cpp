#include "QCustomBox.h"

#include "QCustomLabel.h"
#include "QElidingLabel.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>

namespace {
const char *selectedStyle =
    "QGroupBox:enabled { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #7fec2f, stop:1 "
    "#439847); "
    "border: 1px solid lightgrey; } "
    "QGroupBox:!enabled { border: 1px solid grey; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
    "stop:0 lightgrey, stop:1 grey); color: black; }";
const char *unselectedStyle =
    "QGroupBox:enabled { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #7dadcb, stop:1 "
    "#4a5c62); "
    "border: none; } "
    "QGroupBox:!enabled { border: 1px solid grey; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
    "stop:0 lightgrey, stop:1 grey); color: black; }";
const char *boldName = "background: transparent; border:none; color:white; font:bold;";
} // namespace

QCustomBox::QCustomBox(QString name, int index, QWidget *pw, bool custom, bool systemBox,
                       QString disconnectText, QString extraText)
    : QGroupBox(nullptr), widgetIdx(index), parentWidget(pw), isSystemBox(systemBox), isCustomView(custom)
{
    setFlat(true);
    setContentsMargins(0, 0, 0, 0);
    setStyleSheet(QStringLiteral("border: none;"));
    auto *layout = new QHBoxLayout(this);
    auto *spacerLabel = new QLabel(this);
    spacerLabel->setStyleSheet(QStringLiteral("background: transparent;"));
    spacerLabel->setContentsMargins(0, 10, 0, 10);
    layout->addWidget(spacerLabel);
    layout->setContentsMargins(3, 5, 5, 5);
    layout->setSpacing(0);
    expandLabel = new QCustomLabel(this);
    expandLabel->setStyleSheet(QStringLiteral("background: transparent;"));
    connect(expandLabel, &QCustomLabel::clicked, this, &QCustomBox::expandButtonClick);
    layout->addWidget(expandLabel);
    layout->addSpacing(10);
    /* A long name is shortened (whole in its tool tip); the buttons
     * always show their words. */
    nameLabel = new QElidingLabel(name, this);
    nameLabel->setObjectName(QStringLiteral("sysNameLabel"));
    layout->addWidget(nameLabel);
    layout->addStretch();
    if (!disconnectText.isEmpty()) {
        disconnectButton = new QPushButton(disconnectText, this);
        disconnectButton->setObjectName(QStringLiteral("disconnectButton"));
        disconnectButton->setFlat(true);
        disconnectButton->setStyleSheet(QStringLiteral("background: transparent; border:none"));
        disconnectButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        connect(disconnectButton, &QPushButton::clicked, this, &QCustomBox::disconnectButtonClick);
        layout->addWidget(disconnectButton);
    }
    if (!extraText.isEmpty()) {
        extraButton = new QPushButton(extraText, this);
        extraButton->setObjectName(QStringLiteral("extraButton"));
        extraButton->setFlat(true);
        extraButton->setStyleSheet(QStringLiteral("background: transparent; border:none"));
        extraButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        connect(extraButton, &QPushButton::clicked, this, &QCustomBox::extraButtonClick);
        layout->addWidget(extraButton);
    }
    if (isSystemBox) {
        nameLabel->setStyleSheet(QLatin1String(boldName));
    } else {
        nameLabel->setStyleSheet(QStringLiteral("background: transparent; border:none; color: white;"));
        setStyleSheet(QLatin1String(selectedStyle));
    }
    showExpandPicture();
}

QString QCustomBox::getName() const
{
    return nameLabel->fullText();
}

QString QCustomBox::getDisconnectButtonText() const
{
    return disconnectButton ? disconnectButton->text() : QString();
}

void QCustomBox::setDisconnectButtonText(QString text)
{
    if (disconnectButton)
        disconnectButton->setText(text);
}

void QCustomBox::setSelected(bool selected)
{
    isSelected = selected;
    setStyleSheet(QLatin1String(selected ? selectedStyle : unselectedStyle));
    nameLabel->setStyleSheet(QLatin1String(boldName));
}

void QCustomBox::disconnectButtonClick()
{
    emit clickedDisconnectButton(widgetIdx);
}

void QCustomBox::extraButtonClick()
{
    emit clickedExtraButton(widgetIdx);
}

void QCustomBox::expandButtonClick()
{
    emit clickedExpandButton(widgetIdx);
    isExpanded = !isExpanded;
    showExpandPicture();
}

void QCustomBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit itemClicked(widgetIdx);
}

void QCustomBox::showExpandPicture()
{
    const char *picture =
        isSystemBox
            ? (isExpanded ? ":/Resources/Elementi/switch_ON.gif" : ":/Resources/Elementi/switch_OFF.gif")
            : (isExpanded ? ":/Resources/Elementi/arrd.png" : ":/Resources/Elementi/arrr.png");
    expandLabel->setPixmap(QPixmap(QLatin1String(picture)));
    expandLabel->setProperty("picture", QLatin1String(picture));
}
