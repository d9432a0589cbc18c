// The program with four full simulated crates (16 slots, 348 channels each),
// connected through the program's own connection path, every channel
// ramping (VMon and IMon of all 1,392 channels every 500 ms), for a set time:
//
//   program_stream_bench [seconds=60] [crates=4]
//
// Prints the connect time of each crate and the GUI thread's worst lateness
// meanwhile; the lateness of a 20 ms GUI-thread timer while streaming
// (p50/p99/max); the latency from a value set in a crate to its cell (a
// marker channel's I0Set, changed again 100 ms after each change arrived;
// p50/p99/max); RSS after connecting, after the first minute and at the
// end; and the values lost (must be 0): markers that never reached their
// cell, and cells not on their crate's last value after every channel's
// I0Set changed at once. Each figure beside its aim.
/* First: the simulator's headers use words that Qt defines as macros. */
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"

#include "KORUHVConfig.h"
#include "KORUHVEventServer.h"
#include "KORUHVNode.h"
#include "MainWindow.h"
#include "app_test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double rssMb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double pct(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

/* The 20 ms timer's lateness samples (ms), kept while `on`. */
struct Lateness {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    std::vector<double> samples;
    double maxMs = 0;
    void start()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            const double late = double(now - last) / 1e6 - 20.0;
            last = now;
            samples.push_back(std::max(0.0, late));
            maxMs = std::max(maxMs, late);
        });
        clock.start();
        last = 0;
        timer.start();
    }
    void reset()
    {
        samples.clear();
        maxMs = 0;
    }
};

void aim(const char *what, double value, double limit, const char *unit)
{
    std::printf("%-44s %9.1f %-3s (aim %s %.0f %s: %s)\n", what, value, unit, "<=", limit, unit,
                value <= limit ? "met" : "MISSED");
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    const int crates = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 4) : 4;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ShellTestEnvironment env; /* temporary working and settings folders */
    startTestEventServer();

    std::vector<std::unique_ptr<korusim::CrateSim>> sims;
    for (int i = 0; i < crates; ++i) {
        korusim::CrateSimOptions opt;
        opt.tickPeriod = std::chrono::milliseconds(500);
        const std::string address = "127.0.0." + std::to_string(2 + i);
        auto sim = std::make_unique<korusim::CrateSim>(korusim::CrateModel::fullCrate(), address, 0, opt);
        if (!sim->start()) {
            std::fprintf(stderr, "simulator %s: %s\n", address.c_str(), sim->errorText().c_str());
            return 1;
        }
        sims.push_back(std::move(sim));
    }
    auto *window = new MainWindow;
    window->resize(1600, 1000);
    window->show();
    Lateness late;
    late.start();

    /* ---- connect each crate through the program's own path */
    std::vector<QSystemInterface *> systems;
    for (int i = 0; i < crates; ++i) {
        koruhv::CrateTransport_SetPortForTest(sims[size_t(i)]->port());
        late.reset();
        QElapsedTimer t;
        t.start();
        ModalAnswerer answer;
        const QString address = QStringLiteral("127.0.0.%1").arg(2 + i);
        if (window->connectSystem(2, 0, address, QStringLiteral("crate%1").arg(i + 1),
                                  QStringLiteral("admin"), QStringLiteral("admin")) != 0) {
            std::fprintf(stderr, "cannot connect %s\n", qPrintable(address));
            return 1;
        }
        const double ms = double(t.nsecsElapsed()) / 1e6;
        systems.push_back(window->getSysInterfaceVector().last());
        /* A stall shows when the timer next fires. */
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 100)
            app.processEvents(QEventLoop::AllEvents, 20);
        std::printf(
            "connect crate %d: %8.1f ms; GUI thread late by %.1f ms at worst meanwhile (aim <= 100: %s)\n",
            i + 1, ms, late.maxMs, late.maxMs <= 100 ? "met" : "MISSED");
    }

    /* ---- every channel on, ramping slowly towards its top (1 V/s) */
    int channels = 0;
    for (int i = 0; i < crates; ++i) {
        KORUHVNode *sys = systems[size_t(i)]->getSystemNode();
        for (KORUHVNode *board : sys->getChildren()) {
            if (!board || board->getNodeType() != NODE_BOARD)
                continue;
            for (KORUHVNode *ch : board->getChildren()) {
                if (!ch)
                    continue;
                korusim::CrateSim &s = *sims[size_t(i)];
                s.setChannelValue(board->getBdSlotNr(), ch->getChIdx(), "RUp", 1);
                s.setChannelValue(board->getBdSlotNr(), ch->getChIdx(), "V0Set", 3000);
                s.setChannelValue(board->getBdSlotNr(), ch->getChIdx(), "Pw", 1);
                ++channels;
            }
        }
    }
    std::printf("%d channels ramping in %d crates\n", channels, crates);

    /* ---- marker: channel 0 of slot 0 of crate 1, its I0Set; the latency
     * runs from the change to its cell */
    KORUHVNode *marker = KORUHVConfig::KORUHVConfigGetNodeFromItemId(systems[0]->getSystemNode(),
                                                                     QStringLiteral("I0Set"), 0, 0);
    if (!marker) {
        std::fprintf(stderr, "no I0Set node on slot 0 channel 0\n");
        return 1;
    }
    struct Sent {
        float value;
        qint64 at;
    };
    std::deque<Sent> inFlight;
    std::vector<double> latency;
    long sent = 0;
    float nextValue = 1.0f;
    QElapsedTimer clock;
    clock.start();
    QObject probe;
    QObject::connect(
        window, &MainWindow::updateValueAndWidget, &probe,
        [&](QSystemInterface *s, int bd, int ch, QString name, IDValue_t v, bool, bool, quint64) {
            if (s != systems[0] || bd != 0 || ch != 0 || name != QLatin1String("I0Set"))
                return;
            /* Applied to the node before this (the window's own
             * slot was connected first). */
            while (!inFlight.empty()) {
                const Sent f = inFlight.front();
                inFlight.pop_front();
                if (f.value == v.FloatValue) {
                    latency.push_back(double(clock.nsecsElapsed() - f.at) / 1e6);
                    break;
                }
                /* An older marker never came: lost. */
            }
        });
    /* One marker in flight at a time (the crate sends only the latest value
     * of an item, so two quick changes could be one event); one that has
     * not reached its cell within 2 s counts as lost. */
    long lostMarkers = 0;
    QTimer markerTimer;
    QObject::connect(&markerTimer, &QTimer::timeout, [&] {
        if (!inFlight.empty()) {
            if (clock.nsecsElapsed() - inFlight.front().at < qint64(2000) * 1000000)
                return;
            inFlight.clear();
            ++lostMarkers;
        }
        nextValue = nextValue >= 900.0f ? 1.0f : nextValue + 1.0f;
        inFlight.push_back({nextValue, clock.nsecsElapsed()});
        sims[0]->setChannelValue(0, 0, "I0Set", nextValue);
        ++sent;
    });

    /* Settle the first ramp events, then measure. */
    const double rssStart = rssMb();
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 2000)
        app.processEvents(QEventLoop::AllEvents, 50);
    late.reset();
    markerTimer.start(100);
    double rssMinute = -1;
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < qint64(seconds) * 1000) {
        app.processEvents(QEventLoop::AllEvents, 50);
        if (rssMinute < 0 && run.elapsed() >= 60000)
            rssMinute = rssMb();
    }
    markerTimer.stop();
    /* The last marker reaches its cell, or counts as lost. */
    wait.restart();
    while (!inFlight.empty() && wait.elapsed() < 5000)
        app.processEvents(QEventLoop::AllEvents, 50);
    lostMarkers += long(inFlight.size());
    const double rssEnd = rssMb();
    const QString shown = marker->text();

    /* Then every channel's I0Set changes at once, in every crate: each cell
     * must end on the value its crate last sent. */
    struct Cell {
        KORUHVNode *node;
        float want;
    };
    std::vector<Cell> cells;
    for (int i = 0; i < crates; ++i)
        for (KORUHVNode *board : systems[size_t(i)]->getSystemNode()->getChildren()) {
            if (!board || board->getNodeType() != NODE_BOARD)
                continue;
            for (KORUHVNode *ch : board->getChildren()) {
                if (!ch)
                    continue;
                KORUHVNode *n = KORUHVConfig::KORUHVConfigGetNodeFromItemId(
                    systems[size_t(i)]->getSystemNode(), QStringLiteral("I0Set"), board->getBdSlotNr(),
                    ch->getChIdx());
                if (!n)
                    continue;
                const float want = float(10 + i * 100 + ch->getChIdx() % 90);
                sims[size_t(i)]->setChannelValue(board->getBdSlotNr(), ch->getChIdx(), "I0Set", want);
                cells.push_back({n, want});
            }
        }
    auto wrongCells = [&] {
        long wrong = 0;
        for (const Cell &c : cells)
            if (c.node->getNodeValue().KORUHVGetValue().toFloat() != c.want)
                ++wrong;
        return wrong;
    };
    wait.restart();
    while (wrongCells() != 0 && wait.elapsed() < 10000)
        app.processEvents(QEventLoop::AllEvents, 50);
    const long wrong = wrongCells();
    const long lost = lostMarkers + wrong;

    std::printf("streamed %d s: %zu timer samples, %ld markers\n", seconds, late.samples.size(), sent);
    aim("GUI timer lateness p50", pct(late.samples, 0.50), 20, "ms");
    aim("GUI timer lateness p99", pct(late.samples, 0.99), 20, "ms");
    aim("GUI timer lateness max", late.maxMs, 50, "ms");
    aim("event-to-cell latency p50", pct(latency, 0.50), 100, "ms");
    aim("event-to-cell latency p99", pct(latency, 0.99), 100, "ms");
    std::printf("%-44s %9.1f ms\n", "event-to-cell latency max", pct(latency, 1.0));
    std::printf("RSS after connect %.1f MB, after 1 min %s, at end %.1f MB\n", rssStart,
                rssMinute < 0 ? "(run < 1 min)" : qPrintable(QString::number(rssMinute, 'f', 1) + " MB"),
                rssEnd);
    if (rssMinute >= 0)
        aim("RSS growth after the first minute", rssEnd - rssMinute, 5, "MB");
    std::printf(
        "marker cell shows \"%s\", last sent %.1f; %ld of %zu I0Set cells not on their crate's last value\n",
        qPrintable(shown), double(nextValue), wrong, cells.size());
    std::printf("values lost: %ld (must be 0)\n", lost);

    for (int i = crates - 1; i >= 0; --i)
        window->disconnectFromSystem(i);
    stopEventServer();
    delete window;
    for (auto &s : sims)
        s->stop();
    return lost == 0 ? 0 : 2;
}
