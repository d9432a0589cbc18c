// Answering modal boxes and dialogs in the program's tests. A modal widget
// runs its own event loop, so a test answers it from a timer that polls
// QApplication::activeModalWidget():
//   answerNextModal<T>  answers the next modal widget of type T, once;
//   ModalAnswerer       answers every modal widget while it lives: a queue
//                       of handlers in order, then a default answer, and
//                       records what each widget showed.
// Every wait is bounded; a bound missed leaves a warning or a flag the test
// checks, never a hang.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "wait_progress.h"

namespace koru_test {

constexpr int kModalPollMs = 10;

// The modal widget a ModalAnswerer acts on now: the active one, unless it
// is a progress dialog (not a question; it closes on its own).
inline QWidget *activeModalToAnswer()
{
    QWidget *w = QApplication::activeModalWidget();
    return qobject_cast<QProgressDialog *>(w) ? nullptr : w;
}

// What to do with a widget the answer left open.
enum class AfterAnswer {
    Leave,           // the test closes it, or wants it open
    Close,           // closed right after the answer
    CloseAfterBound, // closed, with a warning, when still open after the bound
};

// Runs answer(widget) once on the first modal widget of type T (not notThis)
// that shows up within boundMs; the returned flag tells whether it came.
// When none came, a warning names the active modal widget instead.
template <typename T = QWidget>
std::shared_ptr<bool> answerNextModal(std::type_identity_t<std::function<void(T *)>> answer,
                                      int boundMs = 5000, AfterAnswer after = AfterAnswer::Leave,
                                      QWidget *notThis = nullptr)
{
    auto reached = std::make_shared<bool>(false);
    auto *timer = new QTimer();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QPointer<QWidget> skip(notThis);
    QObject::connect(timer, &QTimer::timeout, [=]() {
        QWidget *active = QApplication::activeModalWidget();
        T *w = active && active != skip.data() ? qobject_cast<T *>(active) : nullptr;
        if (!w && clock->elapsed() <= boundMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (!w) {
            qWarning("answerNextModal: no %s within %d ms; active modal: %s", T::staticMetaObject.className(),
                     boundMs, active ? active->metaObject()->className() : "none");
            return;
        }
        *reached = true;
        QPointer<QWidget> left(w);
        answer(w);
        if (after == AfterAnswer::Close && left && left->isVisible()) {
            left->close();
        } else if (after == AfterAnswer::CloseAfterBound) {
            // A dialog the answer did not close (a disabled OK) is closed
            // after the bound, so the test fails instead of hanging.
            QTimer::singleShot(boundMs, [left]() {
                if (left && left->isVisible()) {
                    qWarning("answerNextModal: %s still open after its answer; closed",
                             left->metaObject()->className());
                    left->close();
                }
            });
        }
    });
    timer->start(kModalPollMs);
    return reached;
}

// What a modal widget showed when it was answered.
struct SeenModal {
    QString className;
    QString title;
    QString text;        // message boxes only
    QString informative; // message boxes only
    QStringList buttons; // message boxes only
};

inline SeenModal describeModal(QWidget *w)
{
    SeenModal s;
    s.className = QString::fromLatin1(w->metaObject()->className());
    s.title = w->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
        s.text = box->text();
        s.informative = box->informativeText();
        for (QAbstractButton *b : box->buttons())
            s.buttons << b->text();
    }
    return s;
}

using ModalHandler = std::function<void(QWidget *)>;

// Default answer: a dialog is rejected, any other widget closed.
inline ModalHandler rejectModal()
{
    return [](QWidget *w) {
        if (auto *dialog = qobject_cast<QDialog *>(w))
            dialog->reject();
        else
            w->close();
    };
}

// Default answer: a message box gets the button whose text is `text` (its
// default button, else its first, when none matches); other dialogs are
// rejected.
inline ModalHandler clickButton(QString text = QString())
{
    return [text](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box) {
            rejectModal()(w);
            return;
        }
        QAbstractButton *target = nullptr;
        for (QAbstractButton *b : box->buttons())
            if (!text.isEmpty() && b->text() == text)
                target = b;
        if (!target)
            target = box->defaultButton() ? static_cast<QAbstractButton *>(box->defaultButton())
                                          : (box->buttons().isEmpty() ? nullptr : box->buttons().first());
        if (target)
            target->click();
        else
            box->reject();
    };
}

// How a ModalAnswerer notices a modal widget: by polling every kModalPollMs,
// or as the widget is shown, so that its answer runs first in the modal's
// own event loop, at the same point of the test whatever the time (a seeded
// walk replays alike); a slow poll then only backs that up.
enum class Notice { Poll, OnShow };
constexpr int kModalBackupPollMs = 500;

// Answers the modal widgets that show up while it lives, in the order they
// appear, each once per showing (progress dialogs aside): each queued
// handler takes the next one; a widget no handler waits for gets the default
// answer (rejectModal() unless given), so nothing is left to hang. Every
// widget answered is listed in seen(). A handler that waits longer than the
// bound for its widget is dropped and timedOut() turns true.
class ModalAnswerer {
public:
    using Handler = ModalHandler;
    explicit ModalAnswerer(Handler otherwiseAnswer = rejectModal(), int bound = kHangGuardMs,
                           Notice notice = Notice::Poll)
        : otherwise(std::move(otherwiseAnswer)), boundMs(bound),
          pollMs(notice == Notice::Poll ? kModalPollMs : kModalBackupPollMs)
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(pollMs); });
        timer.start(pollMs);
        if (notice == Notice::OnShow)
            qApp->installEventFilter(&shown);
    }
    ModalAnswerer(const ModalAnswerer &) = delete;
    ModalAnswerer &operator=(const ModalAnswerer &) = delete;

    void then(Handler handler) { handlers.push_back(std::move(handler)); }
    // A message box answered with that button (a dialog is rejected).
    void thenButton(QMessageBox::StandardButton button)
    {
        then([button](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (box && box->button(button))
                box->button(button)->click();
            else if (auto *dialog = qobject_cast<QDialog *>(w))
                dialog->reject();
        });
    }
    bool timedOut() const { return timedOutFlag; }
    int pending() const { return int(handlers.size()); }
    const QVector<SeenModal> &seen() const { return seenModals; }

private:
    // Queues a look at the modal widgets when a modal window is shown.
    class ShowWatch : public QObject {
    public:
        explicit ShowWatch(ModalAnswerer *owner) : answerer(owner) {}
        ~ShowWatch() override { qApp->removeEventFilter(this); }
        bool eventFilter(QObject *o, QEvent *e) override
        {
            auto *w = o->isWidgetType() ? static_cast<QWidget *>(o) : nullptr;
            if (e->type() != QEvent::Show || !w || !w->isWindow() || !w->isModal())
                return false;
            if (answerer->last == w)
                answerer->last = nullptr; // shown again: a new box
            QMetaObject::invokeMethod(
                this, [a = answerer] { a->poll(0); }, Qt::QueuedConnection);
            return false;
        }

    private:
        ModalAnswerer *answerer;
    };

    // A look at the active modal widget; waitedMs counts toward the bound.
    void poll(int waitedMs)
    {
        QWidget *w = activeModalToAnswer();
        if (!w || w == last.data()) {
            if (!w)
                last = nullptr; // shown again later, it is a new box
            if (!handlers.empty() && (elapsedMs += waitedMs) > boundMs) {
                timedOutFlag = true;
                handlers.clear();
            }
            return;
        }
        last = w;
        elapsedMs = 0;
        seenModals.append(describeModal(w));
        if (handlers.empty()) {
            otherwise(w);
            return;
        }
        Handler h = std::move(handlers.front());
        handlers.pop_front();
        h(w);
    }

    Handler otherwise;
    std::deque<Handler> handlers;
    QVector<SeenModal> seenModals;
    QPointer<QWidget> last;
    QTimer timer;
    int elapsedMs = 0;
    int boundMs;
    int pollMs;
    bool timedOutFlag = false;
    // Last member: it goes first, so no queued look outlives the answerer.
    ShowWatch shown{this};
};

} // namespace koru_test
