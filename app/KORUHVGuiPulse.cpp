#include "KORUHVGuiPulse.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>

namespace {

constexpr qint64 kPulseMs = 25;

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
    if (!innermost || !innermost->active || !dialog || !dialog->isVisible())
        return;
    if (sinceLast.isValid() && sinceLast.elapsed() < kPulseMs)
        return;
    QCoreApplication::processEvents();
    sinceLast.start();
}
