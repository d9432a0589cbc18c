/* The touch-screen keyboard: a frameless, always-on-top window at the bottom
 * of the screen with a full and a numeric layout, whose keys become key
 * presses for one of the program's input widgets. One instance for the
 * program (getVirtualKeyboard()); the main window deletes it. GUI thread. */
#ifndef QVIRTUALKEYBOARD_H
#define QVIRTUALKEYBOARD_H

#include <QKeyEvent>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <memory>

class QPushButton;

class QVirtualKeyboard : public QWidget {
    Q_OBJECT

public:
    QVirtualKeyboard();
    ~QVirtualKeyboard() override;

    /* The single keyboard, created on first use; a deleted one is forgotten. */
    static QVirtualKeyboard *getVirtualKeyboard();

    void setKeyboardEnabled(bool enabled);
    bool getKeyboardEnabled() const { return keyboardEnabled; }
    void setKeyboardLayout();
    bool isFullLayoutShown() const { return fullLayoutShown; }
    int getLetterCase() const { return letterCase; }
    QWidget *getTarget() const { return target; }
    /* The key press for one key name, or null for a name that sends none. */
    std::unique_ptr<QKeyEvent> getKeyEventObject(QChar key);
    void fillButtonBackgroundWithImage(QPushButton *button, QString name);

public Q_SLOTS:
    void show(QWidget *receiverWidget, bool layoutFull);
    void setLetterCase();
    void sendKeyCommand();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QPushButton *makeKey(const QString &name, int width = 45);
    QWidget *buildNumericLayout();
    QWidget *buildFullLayout();
    void moveToBottomCentre();

    QPointer<QWidget> target;
    bool keyboardEnabled = true;
    bool fullLayoutShown = false;
    QWidget *fullLayoutWidget = nullptr;
    QWidget *numericLayoutWidget = nullptr;
    QPushButton *shiftButton = nullptr;
    int letterCase = 0;
    QPoint dragOffset{-1, -1};
    bool dragging = false;
};

QVirtualKeyboard *getVirtualKeyboard();

#endif
