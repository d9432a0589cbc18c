#include "QSystemStatusBar.h"

#include <QHBoxLayout>
#include <QLabel>

QSystemStatusBar::QSystemStatusBar(QWidget *parent)
    : QStatusBar(parent), sysNameLabel(new QLabel), initParamLabel(new QLabel), connStatLabel(new QLabel),
      syncLed(new QLabel), asyncLed(new QLabel), unsyncLed(new QLabel)
{
    auto *container = new QWidget;
    auto *layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 0, 10, 0);
    layout->addWidget(connStatLabel);
    layout->addSpacing(15);
    layout->addWidget(syncLed);
    layout->addWidget(asyncLed);
    layout->addWidget(unsyncLed);
    sysNameLabel->setContentsMargins(10, 0, 10, 0);
    sysNameLabel->setMinimumSize(sysNameLabel->sizeHint());
    sysNameLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    initParamLabel->setMinimumSize(sysNameLabel->sizeHint());
    initParamLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connStatLabel->setMinimumSize(connStatLabel->sizeHint());
    connStatLabel->setAlignment(Qt::AlignCenter);
    sysNameLabel->setToolTip(QStringLiteral("Power supply name"));
    initParamLabel->setToolTip(QStringLiteral("Power supply connection parameter(s)"));
    connStatLabel->setToolTip(QStringLiteral("Connection status"));
    for (QLabel *led : {syncLed, asyncLed, unsyncLed})
        led->setToolTip(QStringLiteral("Events status"));
    addPermanentWidget(sysNameLabel, 0);
    addPermanentWidget(initParamLabel, 1);
    addPermanentWidget(container, 0);
    setMinimumHeight(28);
}

QSystemStatusBar::~QSystemStatusBar()
{
    /* The lights live in the container, which the status bar deletes. */
}

void QSystemStatusBar::setSysNameLabel(QString text)
{
    sysNameLabel->setText(text);
}

void QSystemStatusBar::setInitParamLabel(QString text)
{
    initParamLabel->setText(text);
}

void QSystemStatusBar::setConnStatLabel(connStatus status)
{
    switch (status) {
    case CONN_PENDING:
        connStatLabel->setText(QStringLiteral("PENDING CONNECTION"));
        break;
    case CONN_OK:
        connStatLabel->setText(QStringLiteral("CONNECTED"));
        connStatLabel->setStyleSheet(QStringLiteral("QLabel {color : green; }"));
        break;
    case CONN_KO:
        connStatLabel->setText(QStringLiteral("DISCONNECTED"));
        break;
    case CONN_TRANSPARENT:
        connStatLabel->setText(QStringLiteral("TRANSPARENT MODE ACTIVE"));
        connStatLabel->setStyleSheet(QStringLiteral("QLabel {color : red; }"));
        break;
    default:
        connStatLabel->clear();
    }
}

void QSystemStatusBar::setLed(QLabel *led, const char *picture)
{
    led->setPixmap(QPixmap(QLatin1String(picture)));
    led->setProperty("picture", QLatin1String(picture));
}

void QSystemStatusBar::setEvStatusSync(bool on)
{
    setLed(syncLed, on ? ":/Resources/buttons/led_on_mid.png" : ":/Resources/buttons/led_off_mid.png");
}

void QSystemStatusBar::setEvStatusAsync(bool on)
{
    setLed(asyncLed, on ? ":/Resources/buttons/led_warn_mid.png" : ":/Resources/buttons/led_off_mid.png");
}

void QSystemStatusBar::setEvStatusUnsync(bool on)
{
    setLed(unsyncLed, on ? ":/Resources/buttons/led_err_mid.png" : ":/Resources/buttons/led_off_mid.png");
}

void QSystemStatusBar::clearAllEvStatus()
{
    for (QLabel *led : {syncLed, asyncLed, unsyncLed})
        setLed(led, ":/Resources/buttons/led_off.png");
}

QString QSystemStatusBar::sysNameText() const
{
    return sysNameLabel->text();
}
QString QSystemStatusBar::initParamText() const
{
    return initParamLabel->text();
}
QString QSystemStatusBar::connStatText() const
{
    return connStatLabel->text();
}
QString QSystemStatusBar::connStatStyle() const
{
    return connStatLabel->styleSheet();
}

QString QSystemStatusBar::ledPicture(int led) const
{
    const QLabel *l = led == 0 ? syncLed : led == 1 ? asyncLed : unsyncLed;
    return l->property("picture").toString();
}
