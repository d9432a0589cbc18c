#include "QVirtualKeyboard.h"

#include "QCustomComboBox.h"
#include "QCustomDoubleSpinBox.h"
#include "QCustomLineEdit.h"
#include "QCustomSpinBox.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QVirtualKeyboard *keyboard = nullptr;

const char *const keyFolder = ":/Resources/keyboard/";

} // namespace

QVirtualKeyboard *QVirtualKeyboard::getVirtualKeyboard()
{
    if (!keyboard)
        keyboard = new QVirtualKeyboard();
    return keyboard;
}

QVirtualKeyboard *getVirtualKeyboard()
{
    return QVirtualKeyboard::getVirtualKeyboard();
}

QVirtualKeyboard::QVirtualKeyboard() : QWidget(nullptr)
{
    setWindowTitle(QStringLiteral("%0 Keyboard").arg(QStringLiteral("LUMO2020")));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    numericLayoutWidget = buildNumericLayout();
    fullLayoutWidget = buildFullLayout();
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->addWidget(fullLayoutWidget);
    layout->addWidget(numericLayoutWidget);
    setKeyboardLayout();
    setStyleSheet(QStringLiteral("background:white;"));
    setFocus();
}

QVirtualKeyboard::~QVirtualKeyboard()
{
    if (keyboard == this)
        keyboard = nullptr;
}

QPushButton *QVirtualKeyboard::makeKey(const QString &name, int width)
{
    auto *key = new QPushButton();
    key->setObjectName(name);
    key->setFixedSize(width, 45);
    key->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    fillButtonBackgroundWithImage(key, name);
    if (name == QLatin1String("UCASE")) {
        key->setCheckable(true);
        connect(key, &QPushButton::clicked, this, &QVirtualKeyboard::setLetterCase);
    } else {
        connect(key, &QPushButton::clicked, this, &QVirtualKeyboard::sendKeyCommand);
    }
    return key;
}

void QVirtualKeyboard::fillButtonBackgroundWithImage(QPushButton *button, QString name)
{
    if (!button)
        return;
    button->setFlat(true);
    button->setAutoFillBackground(true);
    struct Special {
        const char *key, *image;
        int width;
    };
    static const Special specials[] = {{"<--", "backspace", 103}, {"@", "close", 103}, {"#1", "numbers", 103},
                                       {"#2", "letters", 103},    {"_", "space", 310}, {"/", "onoff", 103},
                                       {"$", "enter", 103}};
    QString base = name;
    int width = 45;
    for (const Special &s : specials)
        if (name == QLatin1String(s.key))
            base = QLatin1String(s.image), width = s.width;
    QIcon icon;
    if (name == QLatin1String("UCASE")) {
        icon.addPixmap(QPixmap(QLatin1String(keyFolder) + QStringLiteral("shift.png")), QIcon::Normal,
                       QIcon::On);
        width = 103;
    } else {
        const QString path = QLatin1String(keyFolder) + base;
        icon.addPixmap(QPixmap(path + QStringLiteral(".png")), QIcon::Normal, QIcon::On);
        icon.addPixmap(QPixmap(path + QStringLiteral("-sel.png")), QIcon::Selected, QIcon::On);
    }
    button->setIcon(icon);
    button->setIconSize(QSize(width, 45));
    if (icon.isNull())
        button->setText(name); /* without the pictures the key still reads */
}

QWidget *QVirtualKeyboard::buildNumericLayout()
{
    auto *w = new QWidget();
    w->setContentsMargins(0, 0, 0, 0);
    auto *grid = new QGridLayout(w);
    const char *const digits[4][3] = {{"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}, {",", "0", "-"}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            grid->addWidget(makeKey(QLatin1String(digits[r][c])), r, c);
    grid->addWidget(makeKey(QStringLiteral("@"), 103), 1, 4);
    grid->addWidget(makeKey(QStringLiteral("<--"), 103), 2, 4);
    grid->addWidget(makeKey(QStringLiteral("$"), 103), 3, 4);
    grid->addWidget(makeKey(QStringLiteral("/"), 103), 4, 0, 1, 3);
    grid->addWidget(makeKey(QStringLiteral("#2"), 103), 4, 4);
    return w;
}

QWidget *QVirtualKeyboard::buildFullLayout()
{
    auto *w = new QWidget();
    auto *column = new QVBoxLayout(w);
    column->setSpacing(0);
    column->setContentsMargins(0, 0, 0, 0);
    auto row = [&](const QStringList &keys, const QList<QPair<QString, int>> &tail, int lead = 0) {
        auto *l = new QHBoxLayout();
        l->setSpacing(0);
        l->setContentsMargins(0, 0, 0, 0);
        l->addStretch();
        if (lead)
            l->addSpacing(lead);
        for (const QString &k : keys)
            l->addWidget(makeKey(k));
        for (const auto &t : tail)
            l->addWidget(makeKey(t.first, t.second));
        l->addStretch();
        column->addLayout(l);
        return l;
    };
    row(QString("1234567890").split(QString(), Qt::SkipEmptyParts), {});
    row(QString("qwertyuiop").split(QString(), Qt::SkipEmptyParts), {{"@", 103}});
    row(QString("asdfghjkl").split(QString(), Qt::SkipEmptyParts), {{"<--", 103}});
    auto *fourth = new QHBoxLayout();
    fourth->setSpacing(0);
    fourth->addStretch();
    shiftButton = makeKey(QStringLiteral("UCASE"), 103);
    fourth->addWidget(shiftButton);
    for (const QString &k : QString("zxcvbnm").split(QString(), Qt::SkipEmptyParts))
        fourth->addWidget(makeKey(k));
    fourth->addWidget(makeKey(QStringLiteral("$"), 103));
    fourth->addStretch();
    column->addLayout(fourth);
    row({QStringLiteral("-"), QStringLiteral(",")}, {{"_", 310}, {"#1", 103}}, 13);
    return w;
}

void QVirtualKeyboard::moveToBottomCentre()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect g = screen->geometry();
    move(g.x() + g.width() / 2 - width() / 2, g.y() + g.height() - height());
}

void QVirtualKeyboard::show(QWidget *receiverWidget, bool layoutFull)
{
    if (!keyboardEnabled)
        return;
    target = receiverWidget;
    if (isVisible())
        return;
    if (fullLayoutShown != layoutFull)
        setKeyboardLayout();
    moveToBottomCentre();
    setVisible(true);
    repaint();
}

void QVirtualKeyboard::setKeyboardEnabled(bool enabled)
{
    keyboardEnabled = enabled;
    hide();
}

void QVirtualKeyboard::setKeyboardLayout()
{
    if (fullLayoutShown) {
        numericLayoutWidget->show();
        fullLayoutWidget->hide();
    } else {
        numericLayoutWidget->hide();
        fullLayoutWidget->show();
    }
    fullLayoutShown = !fullLayoutShown;
    layout()->activate();
    setFixedSize(sizeHint());
    moveToBottomCentre();
    repaint();
}

void QVirtualKeyboard::setLetterCase()
{
    static const char *const icons[] = {"shift.png", "shift-sel-1.png", "shift-sel-2.png"};
    letterCase = (letterCase + 1) % 3;
    if (shiftButton) {
        shiftButton->setIcon(QIcon(QLatin1String(keyFolder) + QLatin1String(icons[letterCase])));
        shiftButton->setChecked(false);
    }
}

std::unique_ptr<QKeyEvent> QVirtualKeyboard::getKeyEventObject(QChar key)
{
    int code = 0;
    QString text;
    Qt::KeyboardModifiers mods = Qt::NoModifier;
    if (key >= QLatin1Char('0') && key <= QLatin1Char('9')) {
        code = Qt::Key_0 + (key.unicode() - '0');
        text = key;
    } else if (key.isLetter() && key.unicode() < 128) {
        code = Qt::Key_A + (key.toUpper().unicode() - 'A');
        if (letterCase == 0) {
            text = key.toLower();
        } else {
            text = key.toUpper();
            mods = Qt::ShiftModifier;
        }
    } else if (key == QLatin1Char(',')) {
        code = Qt::Key_Period;
        text = QStringLiteral(".");
    } else if (key == QLatin1Char('-')) {
        code = Qt::Key_Minus;
        text = QStringLiteral("-");
    } else if (key == QLatin1Char('<')) {
        code = Qt::Key_Backspace;
    } else if (key == QLatin1Char('_')) {
        code = Qt::Key_Space;
        text = QStringLiteral(" ");
    } else if (key == QLatin1Char('/')) {
        code = Qt::Key_Space;
    } else if (key == QLatin1Char('$')) {
        code = Qt::Key_Return;
    } else {
        return nullptr;
    }
    if (letterCase == 1) {
        /* Upper case for this key only. */
        letterCase = 2;
        setLetterCase();
    }
    return std::make_unique<QKeyEvent>(QEvent::KeyPress, code, mods, text, false, 1);
}

void QVirtualKeyboard::sendKeyCommand()
{
    setFocus();
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!target || !button || button->objectName().isEmpty())
        return;
    const QChar first = button->objectName().at(0);
    if (first == QLatin1Char('@')) {
        hide();
        return;
    }
    if (first == QLatin1Char('#')) {
        setKeyboardLayout();
        return;
    }
    std::unique_ptr<QKeyEvent> event = getKeyEventObject(first);
    if (!event)
        return;
    if (qobject_cast<QCustomSpinBox *>(target) || qobject_cast<QCustomDoubleSpinBox *>(target) ||
        qobject_cast<QCustomLineEdit *>(target) || qobject_cast<QCustomComboBox *>(target))
        QCoreApplication::sendEvent(target, event.get());
}

void QVirtualKeyboard::mousePressEvent(QMouseEvent *event)
{
    dragging = true;
    dragOffset = event->globalPosition().toPoint() - pos();
}

void QVirtualKeyboard::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

void QVirtualKeyboard::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging)
        setProperty("pos", event->globalPosition().toPoint() - dragOffset);
}
