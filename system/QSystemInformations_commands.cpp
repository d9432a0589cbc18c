/* The command buttons of the panel and what they run: the confirmed system
 * commands, turning all channels off, clearing NIM alarms, the 48 V supply
 * and the fan speed. Every command runs synchronously on the GUI thread. */
#include "QSystemInformations.h"

#include "KORUHVNode.h"
#include "KORUHVWrapper.h"
#include "SystemPanelStyles.h"

#include <QCursor>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

using namespace syspanel;

namespace {

/* A modal question without parent; true on Yes. */
bool askYesNo(const QString &text, const QString &informative, QMessageBox::Icon icon,
              const QString &title = {})
{
    QMessageBox box;
    box.setIcon(icon);
    if (!title.isEmpty())
        box.setWindowTitle(title);
    box.setText(text);
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

QString wrapperError(int handle)
{
    const char *text = KORUHV_GetError(handle);
    return text ? QString::fromLatin1(text) : QString();
}

} // namespace

void QSystemInformations::pressLook(Cmd button)
{
    commandButton(button)->setStyleSheet(pressedLook());
}

void QSystemInformations::connectButton(QPushButton *b, Action action)
{
    using P = QSystemInformations;
    void (P::*slot)() = nullptr;
    switch (action) {
    case Action::Session:
        slot = &P::sessionClicked;
        break;
    case Action::CrateMap:
        slot = &P::crateMapClicked;
        break;
    case Action::TechInfo:
        slot = &P::techInfoClicked;
        break;
    case Action::TechInfoRack:
        slot = &P::techInfoP8080Clicked;
        break;
    case Action::SysInfo:
        slot = &P::sysInfoClicked;
        break;
    case Action::SysInfoRack:
        slot = &P::sysInfoP8080Clicked;
        break;
    case Action::ResetFlags:
        slot = &P::resetFlagsClicked;
        break;
    case Action::ResetHV:
        slot = &P::resetHVClicked;
        break;
    case Action::RecoveryHV:
        slot = &P::recoveryHVClicked;
        break;
    case Action::GenSignCfg:
        slot = &P::genSignCfgClicked;
        break;
    case Action::Kill:
        slot = &P::killClicked;
        break;
    case Action::TurnOffAll:
        slot = &P::turnOffAllClicked;
        break;
    case Action::ClearAlarm:
        slot = &P::clearAlarmClicked;
        break;
    case Action::GlobalOn:
        slot = &P::globalOnClicked;
        break;
    case Action::GlobalOff:
        slot = &P::globalOffClicked;
        break;
    case Action::Pw48:
        slot = &P::Pw48Clicked;
        break;
    }
    connect(b, &QPushButton::clicked, this, slot);
}

void QSystemInformations::placeButtonRow(const std::vector<ButtonPlace> &row)
{
    auto *rowWidget = new QWidget(this);
    rowWidget->setObjectName(QStringLiteral("buttonRow"));
    auto *rowLayout = new QHBoxLayout(rowWidget);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(0);
    for (const ButtonPlace &place : row) {
        QPushButton *b = commandButton(place.button);
        rowLayout->addWidget(b);
        b->show();
        connectButton(b, place.action);
    }
    rowLayout->addStretch();
    mainLayout->addWidget(rowWidget);
}

void QSystemInformations::createSystemButtonWidgets()
{
    for (int i = 0; i < CommandButtonCount; ++i) {
        const Cmd cmd = static_cast<Cmd>(i);
        QPushButton *b = commandButtons[i];
        b->setText(buttonText(cmd, systemType));
        b->setObjectName(QStringLiteral("sysConfButton"));
        b->setFlat(true);
        b->setFixedSize(59, 35);
        b->setCursor(Qt::PointingHandCursor);
        /* A word too wide for the fixed button takes the small font too. */
        const QFont small(QStringLiteral("Helvetica [Cronyx]"), 6);
        if (buttonHasSmallFont(cmd) || QFontMetrics(b->font()).size(0, b->text()).width() > b->width())
            b->setFont(small);
    }
    commandButton(Cmd::Pw48)->setCheckable(true);

    const TypeLayout &layout = layoutFor(systemType);
    if (layout.rowOrder.empty())
        return;
    if (layout.spacingBefore > 0)
        mainLayout->addSpacing(layout.spacingBefore);
    for (size_t i = 0; i < layout.rowOrder.size(); ++i) {
        const int row = layout.rowOrder[i];
        placeButtonRow(row == 1 ? layout.row1 : row == 2 ? layout.row2 : layout.row3);
        const int after = i < layout.spacingAfter.size() ? layout.spacingAfter[i] : 0;
        if (after > 0)
            mainLayout->addSpacing(after);
    }
    mainLayout->addStretch();
}

void QSystemInformations::reportCommandFailure(const QString &command, int code)
{
    const int handle = systemNode ? systemNode->getSysHandle() : -1;
    const QString name = systemNode ? systemNode->getNodeName() : QString();
    QMessageBox::warning(nullptr, QStringLiteral("LUMO2020"),
                         commandFailedText(command, name, code, wrapperError(handle)));
}

void QSystemInformations::runConfirmedCommand(Action action, Cmd button)
{
    if (!systemNode)
        return;
    const CommandPlan plan = commandPlan(action, systemType);
    pressLook(button);
    const bool yes = askYesNo(plan.question.arg(systemNode->getNodeName()), QStringLiteral("Are you sure?"),
                              QMessageBox::Question);
    restoreLooks();
    if (!yes)
        return;
    switch (plan.effect) {
    case CommandEffect::TurnOffAllChannels:
        turnOffAllChannels();
        break;
    case CommandEffect::ClearAlarmForNim:
        clearAlarmForNim();
        break;
    case CommandEffect::ExecComm: {
        const int code = KORUHV_ExecComm(systemNode->getSysHandle(), plan.command.toLatin1().constData());
        if (code != 0)
            reportCommandFailure(plan.command, code);
        break;
    }
    }
}

void QSystemInformations::killClicked()
{
    runConfirmedCommand(Action::Kill, Cmd::Kill);
}

void QSystemInformations::turnOffAllClicked()
{
    runConfirmedCommand(Action::TurnOffAll, Cmd::Kill);
}

void QSystemInformations::clearAlarmClicked()
{
    runConfirmedCommand(Action::ClearAlarm, Cmd::ClearAlarm);
}

void QSystemInformations::globalOnClicked()
{
    runConfirmedCommand(Action::GlobalOn, Cmd::GlobalOn);
}

void QSystemInformations::globalOffClicked()
{
    runConfirmedCommand(Action::GlobalOff, Cmd::GlobalOff);
}

void QSystemInformations::turnOffAllChannels()
{
    if (!systemNode)
        return;
    int refused = 0;
    for (KORUHVNode *board : systemNode->getChildren())
        for (KORUHVNode *channel : board->getChildren())
            for (KORUHVNode *param : channel->getParameters())
                if (param->getNodeName() == QLatin1String("Pw") &&
                    param->setNodeEditedValue(QVariant(0)) != 0)
                    ++refused;
    /* A channel that stays on is shown, as a refused command is. */
    if (refused > 0)
        QMessageBox::warning(
            nullptr, QStringLiteral("LUMO2020"),
            channelsNotOffText(systemNode->getNodeName(), refused, wrapperError(systemNode->getSysHandle())));
}

void QSystemInformations::clearAlarmForNim()
{
    if (!systemNode)
        return;
    for (KORUHVNode *board : systemNode->getChildren())
        for (KORUHVNode *param : board->getParameters())
            if (param->getAccessRights() == ACCESS_WRITE_ONLY &&
                param->getNodeName() == QLatin1String("ClrAlarm"))
                param->setNodeEditedValue(QVariant(1));
}

void QSystemInformations::Pw48Clicked()
{
    if (!systemNode)
        return;
    QPushButton *pw = commandButton(Cmd::Pw48);
    KORUHVNode *acdcPwr = findParameter(QStringLiteral("ACDCPwr"));
    if (!acdcPwr) {
        pw->setStyleSheet(unselectedLook());
        return;
    }
    /* The click toggled the button away from the supply's state: the
     * question is about that choice, whatever live values move the button
     * while the box is open. */
    const bool on = pw->isChecked();
    QPointer<QSystemInformations> self(this);
    const bool yes = askYesNo(on ? QStringLiteral("You are powering ON the 48V")
                                 : QStringLiteral("You are powering OFF the 48V"),
                              QStringLiteral("Are you sure?"), QMessageBox::Question);
    if (!self)
        return;
    restoreLooks();
    /* Not switched: the button shows the supply as last known (its status
     * word, live values that came while the box was open included, or the
     * last switch it took). */
    auto showSupply = [this]() { showPw48Button(pw48KnownOn); };
    if (!yes) {
        showSupply();
        return;
    }
    if (on) {
        if (acdcPwr->setNodeEditedValue(QVariant(1)) == 0)
            showPw48Button(true);
        else
            showSupply();
    } else {
        pw->setStyleSheet(selectedLook());
        if (acdcPwr->setNodeEditedValue(QVariant(0)) == 0)
            showPw48Button(false);
        else
            showSupply();
    }
}

void QSystemInformations::checkFanSpeedButton(int value)
{
    if (!lowFanButton || !midFanButton || !hiFanButton)
        return;
    if (value == 0)
        lowFanButton->setChecked(true);
    else if (value == 2)
        hiFanButton->setChecked(true);
    else
        midFanButton->setChecked(true);
}

void QSystemInformations::updateFanSpeedSlider(KORUHVNode *param)
{
    if (!lowFanButton || !midFanButton || !hiFanButton || !param)
        return;
    const int value = param->getNodeValue().KORUHVGetValue().toInt();
    if (value == 0)
        lowFanButton->setChecked(true);
    else if (value == 1)
        midFanButton->setChecked(true);
    else if (value == 2)
        hiFanButton->setChecked(true);
}

void QSystemInformations::changeFanButtonColor()
{
    if (!lowFanButton || !midFanButton || !hiFanButton)
        return;
    if (!lowFanButton->isChecked() && !midFanButton->isChecked() && !hiFanButton->isChecked())
        return;
    for (QPushButton *b : {lowFanButton, midFanButton, hiFanButton})
        b->setStyleSheet(b->isChecked() ? litLook() : unselectedLook());
}

void QSystemInformations::changeWriteFanSpeedValues()
{
    if (!qobject_cast<QPushButton *>(sender()) || !systemNode || !lowFanButton || !midFanButton ||
        !hiFanButton)
        return;
    KORUHVNode *lowEnable = nullptr;
    KORUHVNode *speed = nullptr;
    for (KORUHVNode *p : systemNode->getParameters()) {
        const QString name = p->getNodeName();
        if (!lowEnable && name.contains(QLatin1String("LowFanEnable")))
            lowEnable = p;
        if (!speed && name.contains(QLatin1String("HVFanSpeed")))
            speed = p;
    }
    /* Without the flag parameter low speed counts as not enabled. */
    const bool lowEnabled = lowEnable && lowEnable->getNodeValue().KORUHVGetValue().toBool();
    if (!speed)
        return;
    int value;
    if (lowFanButton->isChecked())
        value = 0;
    else if (midFanButton->isChecked())
        value = 1;
    else if (hiFanButton->isChecked())
        value = 2;
    else
        return;
    if (value == 0 && !lowEnabled) {
        const bool yes = askYesNo(
            QStringLiteral(
                "CAUTION: Selecting this option restricts the flow of ventilation.\nDepending on the type "
                "of cards inserted, they may overheat and become damaged.\n\nDo you really want to enable "
                "and set fan to low speed?"),
            QString(), QMessageBox::Warning, QStringLiteral("ENABLE FAN LOW SPEED"));
        if (yes) {
            if (lowEnable)
                lowEnable->setNodeEditedValue(QVariant(true));
        } else {
            midFanButton->setChecked(true);
            value = 1;
        }
    }
    if (speed->setNodeEditedValue(QVariant(value)) != 0)
        checkFanSpeedButton(speed->getNodeValue().KORUHVGetValue().toInt());
}
