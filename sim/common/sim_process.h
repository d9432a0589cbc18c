// What every mode of koru-sim does as a process: read a number argument
// within its range, and serve until SIGINT or SIGTERM.
#ifndef KORUSIM_SIM_PROCESS_H
#define KORUSIM_SIM_PROCESS_H

#include <csignal>

namespace korusim {

// A whole decimal number in [lo, hi]; out is left alone otherwise.
bool parseNumber(const char *text, long lo, long hi, long &out);

// Blocks SIGINT and SIGTERM in this thread (and so in every thread started
// after), so that only waitForStopSignal sees them. Call before a simulator
// starts its threads.
sigset_t blockStopSignals();

// Waits for one of the blocked stop signals; returns it.
int waitForStopSignal(const sigset_t &stopSignals);

} // namespace korusim

#endif
