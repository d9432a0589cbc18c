/* The lower part of the panel: status lamps, one row per shown system
 * parameter (value cell, fan-speed selector or fan-status lines) and the
 * live updates of lamps and fan lines. */
#include "KORUHVWrapper.h"
#include "QSystemInformations.h"

#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "SystemPanelStyles.h"

#include <QCursor>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace syspanel;

namespace {

QWidget *newRow(QHBoxLayout **layout)
{
    auto *row = new QWidget();
    row->setStyleSheet(QStringLiteral("border:1px solid transparent"));
    *layout = new QHBoxLayout(row);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(0);
    return row;
}

unsigned valueAsUnsigned(KORUHVNode *node)
{
    bool ok = false;
    const unsigned v = node->getNodeValue().KORUHVGetValue().toUInt(&ok);
    return ok ? v : 0;
}

} // namespace

KORUHVNode *QSystemInformations::findParameter(const QString &name) const
{
    if (!systemNode)
        return nullptr;
    for (KORUHVNode *p : systemNode->getParameters())
        if (p->getNodeName().compare(name, Qt::CaseInsensitive) == 0)
            return p;
    return nullptr;
}

void QSystemInformations::setLamp(QLabel *lamp, Lamp picture)
{
    if (!lamp)
        return;
    lamp->setPixmap(QPixmap(lampPicture(picture)));
    /* The picture's name, for whoever reads the panel without eyes. */
    lamp->setProperty("lamp", lampPicture(picture));
}

void QSystemInformations::setStatusLamps(const StatusLamps &lamps)
{
    QLabel *leds[5] = {chOnLed, ovvLed, unvLed, ovcLed, tripLed};
    for (int i = 0; i < 5; ++i)
        setLamp(leds[i], lamps[i]);
}

void QSystemInformations::buildStatusLamps(bool withPw48)
{
    /* Case-insensitive look-ups; on the rack a later parameter of the same
     * name replaces an earlier one, on the crates the first one counts. */
    unsigned frontWord = 0, acdcWord = 0;
    bool frontFound = false;
    for (KORUHVNode *p : systemNode->getParameters()) {
        const QString name = p->getNodeName();
        if (name.compare(QLatin1String("FrontPanOut"), Qt::CaseInsensitive) == 0 &&
            (withPw48 || !frontFound)) {
            frontWord = valueAsUnsigned(p);
            frontFound = true;
        } else if (withPw48 && name.compare(QLatin1String("ACDCStatus"), Qt::CaseInsensitive) == 0) {
            acdcWord = valueAsUnsigned(p) & 0xFFFFu;
        }
    }
    const char *texts[6] = {"Channel ON", "OVV", "UNV", "OVC", "Trip", "48V Pw"};
    QLabel **members[6] = {&chOnLed, &ovvLed, &unvLed, &ovcLed, &tripLed, &pw48Led};
    const int rows = withPw48 ? 6 : 5;
    const int spacingAfter[6] = {5, 5, 5, 5, 10, 10};
    QWidget *rowWidgets[6] = {};
    for (int i = 0; i < rows; ++i) {
        QHBoxLayout *layout = nullptr;
        rowWidgets[i] = newRow(&layout);
        layout->addWidget(new QLabel(QString::fromLatin1(texts[i]), this));
        layout->addStretch();
        auto *led = new QLabel(this);
        led->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        *members[i] = led;
        layout->addWidget(led);
        layout->addSpacing(10);
    }
    setStatusLamps(lampsFromOutputWord(frontWord));
    if (withPw48)
        showPw48State(acdcWord);
    for (int i = 0; i < rows; ++i) {
        mainLayout->addWidget(rowWidgets[i]);
        mainLayout->addSpacing(spacingAfter[i]);
    }
}

void QSystemInformations::showPw48State(unsigned acdcStatus)
{
    setLamp(pw48Led, pw48Lamp(acdcStatus));
    showPw48Button(pw48IsOn(acdcStatus));
}

void QSystemInformations::showPw48Button(bool on)
{
    pw48KnownOn = on;
    QPushButton *pw = commandButton(Cmd::Pw48);
    if (!pw)
        return;
    pw->setChecked(on);
    pw->setStyleSheet(on ? unselectedLook() : selectedLook());
}

QWidget *QSystemInformations::buildParameterRow(KORUHVNode *param)
{
    const QString name = param->getNodeName();
    QHBoxLayout *layout = nullptr;
    QWidget *row = newRow(&layout);
    auto *nameLabel = new QLabel(name, this);
    layout->addWidget(nameLabel);
    layout->addStretch();

    if (name.contains(QLatin1String("HVFanSpeed"), Qt::CaseInsensitive)) {
        QPushButton **members[3] = {&lowFanButton, &midFanButton, &hiFanButton};
        const char *texts[3] = {"LOW", "MID", "HI"};
        for (int i = 0; i < 3; ++i) {
            auto *b = new QPushButton(QString::fromLatin1(texts[i]));
            b->setObjectName(name);
            b->setCursor(Qt::PointingHandCursor);
            b->setFlat(true);
            b->setFont(QFont(QStringLiteral("Helvetica [Cronyx]"), 4));
            b->setCheckable(true);
            b->setAutoExclusive(true);
            /* In the row before the first state is set, so the three are
             * siblings and exclusive from the start. */
            layout->addWidget(b);
            connect(b, &QPushButton::clicked, this, &QSystemInformations::changeWriteFanSpeedValues);
            connect(b, &QPushButton::toggled, this, &QSystemInformations::changeFanButtonColor);
            *members[i] = b;
        }
        checkFanSpeedButton(param->getNodeValue().KORUHVGetValue().toInt());
        if (systemType == KORUHV_SYSTYPE_HX5500 && systemNode->getSlotCount() == 4) {
            nameLabel->hide();
            lowFanButton->hide();
            midFanButton->hide();
            hiFanButton->hide();
        } else {
            layout->addSpacing(12);
        }
        return row;
    }

    const bool hvFans = name.compare(QLatin1String("HVFanStat"), Qt::CaseInsensitive) == 0;
    /* The crate spells "PWFanStat"; it is the power section's block. */
    const bool pwFans = name.compare(QLatin1String("PwFanStat"), Qt::CaseInsensitive) == 0;
    if (hvFans || pwFans) {
        auto *container = new QWidget();
        auto *containerLayout = new QVBoxLayout();
        containerLayout->setContentsMargins(0, 0, 0, 0);
        containerLayout->setSpacing(0);
        const QVector<QWidget *> fans = createFanStatValues(param);
        (hvFans ? hvFanStatWidgets : pwFanStatWidgets) = fans;
        for (int i = 0; i < fans.size(); ++i) {
            auto *line = new QWidget();
            auto *lineLayout = new QHBoxLayout(line);
            lineLayout->setContentsMargins(0, 0, 0, 0);
            lineLayout->setSpacing(0);
            lineLayout->addWidget(new QLabel(QStringLiteral("%0%1").arg(QStringLiteral("Fan")).arg(i), this));
            lineLayout->addSpacing(10);
            lineLayout->addWidget(fans.at(i));
            containerLayout->addWidget(line);
        }
        container->setLayout(containerLayout);
        layout->addSpacing(10);
        layout->addWidget(container);
        return row;
    }

    auto *cell = new KORUHVWidgetItem(this, param);
    cell->setSelectedStyleSheet();
    cell->setObjectName(name);
    cell->createInternalWidget(param->getDataType(), param->getAccessRights(), param->getExpUnitShortForm(),
                               param->getNodeValue().KORUHVGetValue(), param->getNodeDecimals(), true);
    layout->addWidget(cell);
    return row;
}

void QSystemInformations::createSystemParameterWidgets()
{
    if (!systemNode)
        return;
    createSystemButtonWidgets();
    if (systemType == KORUHV_SYSTYPE_HX4400 || systemType == KORUHV_SYSTYPE_HX5500)
        buildStatusLamps(false);
    else if (systemType == KORUHV_SYSTYPE_P8080)
        buildStatusLamps(true);

    for (KORUHVNode *param : systemNode->getParameters()) {
        if (isHiddenParameter(param->getNodeName()))
            continue;
        mainLayout->addWidget(buildParameterRow(param));
        mainLayout->addSpacing(10);
    }
    mainLayout->addStretch(0);
    if (layout() != mainLayout)
        setLayout(mainLayout);
}

QVector<QWidget *> QSystemInformations::createFanStatValues(KORUHVNode *param)
{
    QVector<QWidget *> rows;
    if (!param)
        return rows;
    for (const FanPair &pair : fanPairs(param->getNodeValue().KORUHVGetValue().toString())) {
        auto *row = new QWidget(this);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto *led = new QLabel(this);
        led->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setLamp(led, fanLamp(pair.status));
        layout->addWidget(led);
        layout->addSpacing(10);
        /* A reading is one field of the status text: the cell shows it but
         * never writes it back over the whole text. */
        auto *cell = new KORUHVWidgetItem(this, param);
        cell->setSelectedStyleSheet();
        cell->createInternalWidget(param->getDataType(), param->getAccessRights(),
                                   param->getExpUnitShortForm(), QVariant(pair.reading),
                                   param->getNodeDecimals(), false);
        layout->addWidget(cell);
        rows.append(row);
    }
    return rows;
}

void QSystemInformations::updateReadFanStatValues(KORUHVNode *param)
{
    if (!param)
        return;
    const QVector<QWidget *> &rows =
        param->getNodeName() == QLatin1String("HVFanStat") ? hvFanStatWidgets : pwFanStatWidgets;
    /* The rows were built from the complete pairs; the same rule reads
     * every update. */
    const QVector<FanPair> pairs = fanPairs(param->getNodeValue().KORUHVGetValue().toString());
    if (pairs.size() != rows.size())
        return;
    for (int j = 0; j < rows.size(); ++j) {
        if (auto *led = rows.at(j)->findChild<QLabel *>())
            setLamp(led, fanLamp(pairs.at(j).status));
        if (auto *cell = rows.at(j)->findChild<KORUHVWidgetItem *>())
            cell->setDataInValueField(QVariant(pairs.at(j).reading));
    }
}

void QSystemInformations::updateTechInfo(KORUHVNode *param)
{
    if (!param)
        return;
    const QString name = param->getNodeName();
    const unsigned word = valueAsUnsigned(param) & 0xFFFFu;
    /* Lamp and button follow the supply: after a trip or another client's
     * command the next click asks the right question. */
    if (name.contains(QLatin1String("ACDCStatus")) && pw48Led)
        showPw48State(word);
    if (name.contains(QLatin1String("FrontPanOut")))
        setStatusLamps(lampsFromOutputWord(word));
    if (name.contains(QLatin1String("FrontPan")) && !name.contains(QLatin1String("FrontPanOut")) &&
        !name.contains(QLatin1String("FrontPanIn")))
        setStatusLamps(lampsFromFrontPanelWord(word));
    /* Only an open dialog takes it; the rack supply's is never refreshed. */
    techInfoDialogs.update(param);
}

void QSystemInformations::updateSysInfo(KORUHVNode *param)
{
    sysInfoDialogs.update(param);
}
