/* The panel's frame: construction, header, connection text, logging and
 * script controls, and the selection look. */
#include "QSystemInformations.h"
#include "KORUHVWrapper.h"

#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "QLogDialog.h"
#include "QScriptDialog.h"
#include "SystemPanelStyles.h"

#include <QApplication>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace syspanel;

namespace {

QFont smallBoldFont(const QWidget *w, int points)
{
    QFont f = w->font();
    f.setPointSize(points);
    f.setWeight(QFont::Bold);
    return f;
}

QPushButton *settingsStyleButton(const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QStringLiteral("settingsButton"));
    b->setFlat(true);
    b->setContentsMargins(0, 0, 0, 0);
    b->setFont(smallBoldFont(b, 7));
    return b;
}

/* The dock is narrow: a wide picture goes smaller, so that the model's
 * words beside it stay whole (they wrap, never cut). */
QPixmap fitDockPicture(const QPixmap &picture)
{
    constexpr int widest = 100;
    if (picture.isNull() || picture.width() <= widest)
        return picture;
    return picture.scaledToWidth(widest, Qt::SmoothTransformation);
}

} // namespace

QSystemInformations::QSystemInformations(QPixmap image, QString name, int widgetIdx_, QWidget *parent)
    : QSystemInformations(image, widgetIdx_, parent, SystemPanelFacts{-1, name, -1, nullptr})
{
}

QSystemInformations::QSystemInformations(QPixmap image, int widgetIdx_, QWidget *parent,
                                         const SystemPanelFacts &facts)
    : QGroupBox(nullptr), widgetIdx(widgetIdx_), addressText(facts.initParam), systemType(facts.systemType),
      parentWidget(parent), systemNode(facts.systemNode)
{
    const int linkType = facts.linkType;
    isCustomView = (systemType == -1);
    setContentsMargins(0, 0, 0, 0);

    /* Every command button exists for the panel's whole life; the ones
     * that stand in no row of the type stay hidden. */
    for (int i = 0; i < CommandButtonCount; ++i) {
        commandButtons[i] = new QPushButton(this);
        commandButtons[i]->hide();
    }

    const QString model = createImgLabelAndConnParamWidget(linkType);

    mainLayout = new QVBoxLayout();
    mainLayout->setSpacing(0);

    auto *header = new QWidget(this);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setSpacing(0);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    imageLabel = new QLabel(header);
    imageLabel->setMargin(0);
    imageLabel->setPixmap(fitDockPicture(image));
    imageLabel->setStyleSheet(QStringLiteral("background: transparent;"));
    auto *modelLabel = new QLabel(model, header);
    modelLabel->setObjectName(QStringLiteral("modelLabel"));
    modelLabel->setMargin(0);
    modelLabel->setStyleSheet(QStringLiteral("color: #403b3a; font:bold;"));
    QFont modelFont = modelLabel->font();
    modelFont.setCapitalization(QFont::SmallCaps);
    modelLabel->setFont(modelFont);
    modelLabel->setWordWrap(true);
    headerLayout->addWidget(imageLabel);
    headerLayout->addSpacing(15);
    headerLayout->addWidget(modelLabel);
    headerLayout->addStretch();
    header->setMinimumHeight(qMax(imageLabel->sizeHint().height(), modelLabel->sizeHint().height()));

    mainLayout->addWidget(header);
    mainLayout->addSpacing(10);
    mainLayout->addWidget(connLabel);
    mainLayout->addSpacing(5);

    if (!isCustomView) {
        const Frame frame = layoutFor(systemType).frame;
        if (frame == Frame::MainWidgets)
            createSystemMainWidgets();
        else if (frame == Frame::LogRow)
            createLogWidget();
    }
    setLayout(mainLayout);
    dialogStyleSheet = styleSheet();
}

QSystemInformations::~QSystemInformations()
{
    /* The script dialog is a top-level window of its own: close it (which
     * stops a running script and logs the stop while the tree is whole)
     * before the panel it reports to goes. Its deferred deletion may come
     * after the system's tree is freed, so it also forgets the tree. */
    QPointer<QScriptDialog> script = qobject_cast<QScriptDialog *>(openScriptDialog.data());
    if (openScriptDialog)
        openScriptDialog->close();
    if (script)
        script->systemRemoved();
}

QString QSystemInformations::createImgLabelAndConnParamWidget(int linkType)
{
    connLabel = new QLabel(QString(), this);
    connLabel->setObjectName(QStringLiteral("connLabel"));
    connLabel->setStyleSheet(QStringLiteral("font:bold;"));
    connLabel->setText(connectionText(systemType, linkType, addressText));
    const int slotCount = systemNode ? systemNode->getSlotCount() : -1;
    return modelText(systemType, systemNode != nullptr, slotCount);
}

void QSystemInformations::createSystemMainWidgets()
{
    settingsButton = settingsStyleButton(QStringLiteral("SETTINGS"), this);
    connect(settingsButton, &QPushButton::clicked, this, &QSystemInformations::webminClicked);

    advancedArea = new QWidget(this);
    advancedArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto *areaLayout = new QVBoxLayout(advancedArea);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    areaLayout->setSpacing(6);

    auto *toggle = settingsStyleButton(QStringLiteral("ADVANCED FEATURES"), this);
    toggle->setCheckable(true);
    toggle->setChecked(false);
    toggle->setMaximumHeight(settingsButton->sizeHint().height());

    auto *advWid = new QWidget(advancedArea);
    auto *advLayout = new QHBoxLayout(advWid);
    advLayout->setContentsMargins(0, 0, 0, 0);
    advLayout->setSpacing(6);
    scriptButton = settingsStyleButton(QStringLiteral("SCRIPT"), this);
    logButton = settingsStyleButton(QStringLiteral("LOG"), this);
    connect(scriptButton, &QPushButton::clicked, this, &QSystemInformations::scriptingClicked);
    connect(logButton, &QPushButton::clicked, this, &QSystemInformations::loggingClicked);

    auto *grid = new QWidget(advWid);
    auto *gridLayout = new QGridLayout(grid);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setSpacing(0);
    logOnButton = new QPushButton(QStringLiteral("ON"));
    logOffButton = new QPushButton(QStringLiteral("OFF"));
    for (QPushButton *b : {logOnButton, logOffButton}) {
        b->setObjectName(QStringLiteral("onOffLogButton"));
        b->setFont(smallBoldFont(b, 6));
        b->setFlat(true);
        b->setCheckable(true);
        b->setAutoExclusive(true);
        b->setEnabled(false);
        b->setContentsMargins(0, 0, 0, 0);
        b->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
        b->setToolTip(QStringLiteral("No parameters/channels selected"));
    }
    connect(logOnButton, &QPushButton::clicked, this, &QSystemInformations::startLogClicked);
    connect(logOffButton, &QPushButton::clicked, this, &QSystemInformations::stopLogClicked);
    gridLayout->addWidget(logButton, 0, 0, 2, 1);
    gridLayout->addWidget(logOnButton, 0, 1);
    gridLayout->addWidget(logOffButton, 1, 1);
    advLayout->addWidget(scriptButton);
    advLayout->addWidget(grid);
    advWid->setObjectName(QStringLiteral("advWid"));
    areaLayout->addWidget(toggle);
    areaLayout->addWidget(advWid);

    mainLayout->addWidget(settingsButton);
    mainLayout->addSpacing(4);
    mainLayout->addWidget(advancedArea);
    mainLayout->addSpacing(4);
    connect(toggle, &QPushButton::clicked, this, &QSystemInformations::resizeSplitter);
}

void QSystemInformations::createLogWidget()
{
    auto *row = new QWidget();
    row->setStyleSheet(QStringLiteral("border:1px solid transparent"));
    auto *rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(0);
    auto *sw = new KORUHVSwitch(QStringLiteral("ON"), QStringLiteral("OFF"), 1, row);
    sw->setObjectName(QStringLiteral("logSwitch"));
    sw->setCursor(Qt::PointingHandCursor);
    connect(sw, &KORUHVSwitch::clicked, this, &QSystemInformations::loggingClicked);
    rowLayout->addWidget(new QLabel(QStringLiteral("Log"), row));
    rowLayout->addStretch();
    rowLayout->addWidget(sw);
    mainLayout->addSpacing(20);
    mainLayout->addWidget(row);
    mainLayout->addSpacing(10);
}

void QSystemInformations::showAdvancedFeatWidget(bool show)
{
    if (!advancedArea)
        return;
    if (auto *advWid = advancedArea->findChild<QWidget *>(QStringLiteral("advWid")))
        advWid->setVisible(show);
}

void QSystemInformations::resizeSplitter()
{
    auto *toggle = qobject_cast<QPushButton *>(sender());
    if (!toggle || !advancedArea)
        return;
    if (auto *advWid = advancedArea->findChild<QWidget *>(QStringLiteral("advWid")))
        advWid->setVisible(toggle->isChecked());
}

void QSystemInformations::mouseReleaseEvent(QMouseEvent *)
{
    emit clickedWidget();
}

void QSystemInformations::setSelected(bool selected)
{
    isSelected = selected;
    setStyleSheet(selected ? QStringLiteral("background: #f4f5f7;") : QStringLiteral("background: #d5d5d5;"));
    const TypeLayout &layout = layoutFor(isCustomView ? -1 : systemType);
    const char *picture = selected ? layout.pictureSelected : layout.pictureUnselected;
    if (picture && *picture)
        imageLabel->setPixmap(fitDockPicture(QPixmap(QString::fromLatin1(picture))));
    if (isCustomView)
        return;
    const QString look = selected ? selectedLook() : unselectedLook();
    for (Cmd cmd : layout.restyled) {
        QPushButton *b = commandButton(cmd);
        /* A switched-on 48 V supply keeps its grey look on a selected
         * panel. */
        if (cmd == Cmd::Pw48 && selected && b->isChecked())
            continue;
        b->setStyleSheet(look);
    }
}

void QSystemInformations::loggingClicked()
{
    if (systemType == KORUHV_SYSTYPE_HX4400 || systemType == KORUHV_SYSTYPE_HX5500) {
        if (!systemNode)
            return;
        /* Modal and without parent, so it is a window of its own; the
         * guard covers the panel going while the dialog runs. */
        QPointer<QSystemInformations> self(this);
        QPointer<QLogDialog> dialog = new QLogDialog(systemNode, nullptr);
        connect(this, &QSystemInformations::treeAboutToChange, dialog.data(), &QLogDialog::treeAboutToChange);
        const int result = dialog->exec();
        delete dialog.data();
        if (self && result)
            logSetupAccepted();
        return;
    }
    if (auto *sw = qobject_cast<KORUHVSwitch *>(sender()))
        emit startLog(sw->isChecked());
}

void QSystemInformations::logSetupAccepted()
{
    if (!logOnButton || !logOffButton)
        return;
    logOnButton->setEnabled(true);
    logOffButton->setEnabled(true);
    logOnButton->setToolTip(QString());
    logOffButton->setToolTip(QString());
    logOnButton->setChecked(false);
    logOffButton->setChecked(true);
    QApplication::processEvents();
    logOnButton->setStyleSheet(plainLook());
    logOffButton->setStyleSheet(litLook());
}

void QSystemInformations::startLogClicked()
{
    if (!logOnButton || !logOffButton)
        return;
    logOnButton->setStyleSheet(litLook());
    logOffButton->setStyleSheet(plainLook());
    emit startLog(true);
}

void QSystemInformations::stopLogClicked()
{
    if (!logOnButton || !logOffButton)
        return;
    logOnButton->setStyleSheet(plainLook());
    logOffButton->setStyleSheet(litLook());
    emit startLog(false);
}

void QSystemInformations::scriptingClicked()
{
    if (openScriptDialog) {
        openScriptDialog->showMinimized();
        openScriptDialog->showNormal();
        return;
    }
    /* Non-modal, one per panel; it deletes itself on close and says so
     * first. */
    auto *dialog = new QScriptDialog(systemNode, this, nullptr);
    connect(this, &QSystemInformations::treeAboutToChange, dialog, &QScriptDialog::treeAboutToChange);
    connect(dialog, &QScriptDialog::closing, this, &QSystemInformations::scriptingClosed);
    openScriptDialog = dialog;
    dialog->show();
}

void QSystemInformations::scriptingClosed()
{
    openScriptDialog = nullptr;
}
