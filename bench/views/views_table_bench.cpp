// Table windows over full simulated crates (16 slots, 348 channels each):
// the time to build each window, to switch Full / Minimal / Custom, and the
// worst lateness of a 20 ms GUI-thread timer while every channel ramps and
// the values are applied to the nodes as the value routing does.
//
//   views_table_bench [crates=4] [seconds=30]
//   views_table_bench --screenshot out.png     one window, grabbed to a PNG
//
// Times are printed with their ratio to the aims (1 s build, 300 ms switch,
// 100 ms lateness); a ratio below 1 meets the aim.
#include "KORUHVWrapper.h"
#include "QCustomTableWidget.h"
#include "QSubWindow.h"
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "views_support.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Crate {
    std::unique_ptr<korusim::CrateSim> sim;
    int handle = -1;
    std::unique_ptr<KORUHVNode> tree;
    std::unique_ptr<QSubWindow> window;
};

bool openCrate(Crate &c, int index, bool ramp)
{
    korusim::CrateSimOptions opts;
    opts.ramp = ramp;
    const std::string address = "127.0.0." + std::to_string(2 + index);
    c.sim = std::make_unique<korusim::CrateSim>(korusim::CrateModel::fullCrate(), address, 0, opts);
    if (!c.sim->start()) {
        std::fprintf(stderr, "simulator %s: %s\n", address.c_str(), c.sim->errorText().c_str());
        return false;
    }
    /* Every crate answers on its own port; the hook names one at a time. */
    koruhv::CrateTransport_SetPortForTest(c.sim->port());
    std::vector<char> addr(address.begin(), address.end());
    addr.push_back('\0');
    if (KORUHV_InitSystem(2, 0, addr.data(), "admin", "admin", &c.handle) != 0) {
        std::fprintf(stderr, "cannot open %s\n", address.c_str());
        return false;
    }
    c.tree.reset(vt::buildTree(c.handle, 2, QStringLiteral("crate%1").arg(index + 1)));
    return true;
}

/* Every channel on and set, so that it ramps. */
void switchAllOn(Crate &c)
{
    for (KORUHVNode *board : c.tree->getChildren()) {
        if (board->getNodeType() != NODE_BOARD)
            continue;
        for (KORUHVNode *ch : board->getChildren()) {
            c.sim->setChannelValue(board->getBdSlotNr(), ch->getChIdx(), "V0Set", 1000 + ch->getChIdx());
            c.sim->setChannelValue(board->getBdSlotNr(), ch->getChIdx(), "Pw", 1);
        }
    }
}

struct PendingValue {
    KORUHVNode *node;
    QVariant value;
};

/* Reads VMon, Pw and V0Set of every channel from the simulator, as the event
 * threads would receive them. */
void readValues(Crate &c, std::vector<PendingValue> &out)
{
    for (KORUHVNode *board : c.tree->getChildren()) {
        if (board->getNodeType() != NODE_BOARD)
            continue;
        for (KORUHVNode *ch : board->getChildren()) {
            for (const char *name : {"VMon", "Pw", "V0Set"}) {
                KORUHVNode *p = vt::param(ch, QString::fromLatin1(name));
                const auto v = c.sim->channelValue(board->getBdSlotNr(), ch->getChIdx(), name);
                if (!p || !v)
                    continue;
                out.push_back({p, p->getDataType() == DATA_ONOFF ? QVariant(*v != 0) : QVariant(float(*v))});
            }
        }
    }
}

/* Applies the values to the nodes, as the routing applies event values. */
int applyValues(const std::vector<PendingValue> &values)
{
    for (const PendingValue &v : values)
        v.node->setNodeValue(vt::good(v.value));
    return int(values.size());
}

int applyValues(Crate &c)
{
    std::vector<PendingValue> values;
    readValues(c, values);
    return applyValues(values);
}

int screenshot(const char *path)
{
    Crate c;
    if (!openCrate(c, 0, false))
        return 1;
    switchAllOn(c);
    applyValues(c);
    QVector<KORUHVNode *> alarms;
    for (int s : {0, 3})
        for (KORUHVNode *board : {c.tree->getChildren().value(s)})
            if (board && board->getNodeType() == NODE_BOARD)
                alarms.append(vt::param(board->getChildren().value(1), "Status"));
    c.window.reset(KORUHVCreateSubWindow(nullptr, nullptr, 0, false, c.tree.get(), "crate1", alarms));
    c.window->setWindowTitle("crate1");
    c.window->resize(1500, 950);
    c.window->show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const bool ok = c.window->grab().save(QString::fromLocal8Bit(path));
    std::printf("%s %s\n", ok ? "saved" : "could not save", path);
    c.window.reset();
    c.tree.reset();
    KORUHV_DeinitSystem(c.handle);
    c.sim->stop();
    return ok ? 0 : 1;
}

void report(const char *what, double ms, double aimMs)
{
    std::printf("%-34s %9.1f ms   ratio to aim %.2f\n", what, ms, ms / aimMs);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--screenshot")
        return screenshot(argv[2]);
    const int crates = argc > 1 ? std::max(1, std::min(4, atoi(argv[1]))) : 4;
    const int seconds = argc > 2 ? std::max(1, atoi(argv[2])) : 30;

    std::vector<Crate> all(crates);
    for (int i = 0; i < crates; ++i) {
        if (!openCrate(all[i], i, true))
            return 1;
        switchAllOn(all[i]);
        applyValues(all[i]);
    }
    for (int i = 0; i < crates; ++i) {
        QElapsedTimer t;
        t.start();
        all[i].window.reset(KORUHVCreateSubWindow(nullptr, nullptr, i, false, all[i].tree.get(),
                                                  QStringLiteral("crate%1").arg(i + 1), {}));
        all[i].window->show();
        QCoreApplication::processEvents();
        report(qPrintable(QStringLiteral("build window %1 (%2 rows)")
                              .arg(i + 1)
                              .arg(all[i].window->getTableWidget()->rowCount())),
               t.nsecsElapsed() / 1e6, 1000.0);
    }
    for (const char *mode : {"Full", "Minimal", "Custom"}) {
        QElapsedTimer t;
        t.start();
        for (Crate &c : all)
            c.window->getViewModeCombo()->setCurrentText(QString::fromLatin1(mode));
        QCoreApplication::processEvents();
        report(qPrintable(QStringLiteral("switch to %1, per window").arg(mode)),
               t.nsecsElapsed() / 1e6 / crates, 300.0);
    }

    /* Lateness of a 20 ms timer while values are applied every 200 ms. */
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    long applied = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 20);
        last = now;
    });
    QTimer apply;
    double worstApplyMs = 0;
    QObject::connect(&apply, &QTimer::timeout, [&] {
        std::vector<PendingValue> values;
        for (Crate &c : all)
            readValues(c, values);
        QElapsedTimer t;
        t.start();
        applied += applyValues(values);
        worstApplyMs = std::max(worstApplyMs, t.nsecsElapsed() / 1e6);
    });
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, &app, &QCoreApplication::quit);
    last = clock.elapsed();
    tick.start(20);
    apply.start(200);
    stop.start(seconds * 1000);
    app.exec();
    report("worst lateness of a 20 ms timer", double(worst), 100.0);
    std::printf("values applied: %ld in %d s; longest pass applying one round of all crates: %.1f ms\n",
                applied, seconds, worstApplyMs);

    for (Crate &c : all) {
        c.window.reset();
        c.tree.reset();
        KORUHV_DeinitSystem(c.handle);
        c.sim->stop();
    }
    return 0;
}
