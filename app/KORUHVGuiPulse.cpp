#include "KORUHVGuiPulse.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>

namespace {

qint64 pulseMs = 25;
bool inBeat = false;

KORUHVGuiPulse *innermost = nullptr;
QPointer<QProgressDialog> dialog;
QElapsedTimer sinceLast;

} // namespace

KORUHVGuiPulse::KORUHVGuiPulse(QProgressDialog *modal) : outer(innermost), active(modal != nullptr)
{
    innermost = this;
    if (active) {
        dialog = modal;
        sinceLast.start();
    }
}

KORUHVGuiPulse::~KORUHVGuiPulse()
{
    innermost = outer;
    if (active && !outer)
        dialog = nullptr;
}

void KORUHVGuiPulse::beat()
{
    if (inBeat || !innermost || !innermost->active || !dialog || !dialog->isVisible())
        return;
    if (sinceLast.isValid() && sinceLast.elapsed() < pulseMs)
        return;
    inBeat = true;
    QCoreApplication::processEvents();
    inBeat = false;
    sinceLast.start();
}

void KORUHVGuiPulse::setIntervalForTest(int ms)
{
    pulseMs = ms;
}
