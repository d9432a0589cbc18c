/* Keeps the GUI thread answering while it builds and subscribes a system
 * behind a window-modal progress dialog: beat() processes pending events
 * when the last time is 25 ms or more ago, and only while a pulse scope is
 * open (the dialog keeps the operator's input off the window meanwhile, as
 * its own setValue() does). A scope without a dialog silences beats within
 * it, and so do the events a beat runs: a handler (a live insertion, a
 * disconnection) never lets further events in halfway through its own
 * rebuild. GUI thread only. */
#ifndef KORUHVGUIPULSE_H
#define KORUHVGUIPULSE_H

class QProgressDialog;

class KORUHVGuiPulse {
public:
    /* Opens the scope for the dialog (nothing happens without one). */
    explicit KORUHVGuiPulse(QProgressDialog *modal);
    ~KORUHVGuiPulse();
    KORUHVGuiPulse(const KORUHVGuiPulse &) = delete;
    KORUHVGuiPulse &operator=(const KORUHVGuiPulse &) = delete;
    static void beat();
    /* Tests: the least time between two beats that process events. */
    static void setIntervalForTest(int ms);

private:
    KORUHVGuiPulse *outer;
    bool active;
};

#endif
