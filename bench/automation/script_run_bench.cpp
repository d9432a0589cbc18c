// A script of N "set" actions run from the script dialog over the crate
// simulator on loopback, with its run log in the main window's dock, against
// the executor alone (fragments kept in a string) in the same run. Prints the
// cost per action at 250, 1,000 and 4,000 actions, the cost of the last tenth
// of each run (what one more action costs when the log is long), and the
// ratios 4000/250: near 1 means the cost per action stays flat as the log
// grows. All threads share one CPU, so placement does not move the numbers.
//
//   script_run_bench [largest=4000]
#include "KORUHVScriptExecutor.h"
#include "KORUHVWrapper.h"
#include "QScriptDialog.h"
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "dialog_support.h"
#include "views_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTextEdit>
#include <QThread>

#include <pthread.h>
#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

/* Every thread started from here on inherits the main thread's CPU. */
void pinToOneCpu()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed))
            continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        std::printf("pinned to CPU %d\n", cpu);
        return;
    }
}

QString scriptOf(int actions)
{
    QString s;
    for (int i = 0; i < actions; ++i)
        s += QStringLiteral("set V0Set 0{%1} %2;\n").arg(i % 4).arg(1 + i % 100);
    return s;
}

/* Milliseconds per action over the whole run and over its last tenth. */
struct Cost {
    double perAction = 0;
    double lastTenth = 0;
    bool ok = false;
};

/* Times the actions of one run by the executor's end-of-action fragments
 * ("OK" and a line break). */
struct ActionClock {
    explicit ActionClock(int actions_) : actions(actions_) { clock.start(); }
    void onFragment(const QString &f)
    {
        if (!f.endsWith(QLatin1String("<b>OK</b><br>")))
            return;
        ++done;
        if (done == actions - actions / 10)
            atNineTenths = clock.nsecsElapsed();
        if (done == actions)
            atEnd = clock.nsecsElapsed();
    }
    Cost cost() const
    {
        Cost c;
        c.ok = done == actions;
        c.perAction = double(atEnd) / 1e6 / actions;
        c.lastTenth = double(atEnd - atNineTenths) / 1e6 / (actions / 10);
        return c;
    }
    int actions;
    int done = 0;
    qint64 atNineTenths = 0;
    qint64 atEnd = 0;
    QElapsedTimer clock;
};

template <typename Pred> bool waitFor(Pred pred, int boundMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > boundMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

Cost runExecutor(KORUHVNode *tree, int actions)
{
    KORUHVScriptExecutor exec;
    exec.setSystemNode(tree);
    QString log;
    bool finished = false;
    ActionClock clock(actions);
    QObject::connect(&exec, &KORUHVScriptExecutor::fragment, [&](const QString &f) {
        log += f;
        clock.onFragment(f);
    });
    QObject::connect(&exec, &KORUHVScriptExecutor::finished, [&](int) { finished = true; });
    exec.start(scriptOf(actions));
    waitFor([&] { return finished; }, 30 * 60 * 1000);
    return clock.cost();
}

Cost runDialog(KORUHVNode *tree, int actions)
{
    auto *dialog = new QScriptDialog(tree, nullptr, nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->show();
    dialog->findChild<QTextEdit *>(QStringLiteral("actionsEdit"))->setPlainText(scriptOf(actions));
    auto *exec = dialog->findChild<KORUHVScriptExecutor *>();
    ActionClock clock(actions);
    QObject::connect(exec, &KORUHVScriptExecutor::fragment, [&](const QString &f) { clock.onFragment(f); });
    dialog->findChild<QPushButton *>(QStringLiteral("startButton"))->click();
    waitFor([&] { return !dialog->isRunning(); }, 30 * 60 * 1000);
    delete dialog;
    return clock.cost();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int largest = argc > 1 ? std::atoi(argv[1]) : 4000;
    pinToOneCpu();
    QApplication app(argc, argv);

    korusim::CrateSimOptions opts;
    opts.ramp = false;
    korusim::CrateSim sim(korusim::CrateModel::smallCrate(), "127.0.0.2", 0, opts);
    if (!sim.start()) {
        std::fprintf(stderr, "simulator: %s\n", sim.errorText().c_str());
        return 1;
    }
    koruhv::CrateTransport_SetPortForTest(sim.port());
    char address[] = "127.0.0.2";
    int handle = -1;
    if (KORUHV_InitSystem(2, 0, address, "admin", "admin", &handle) != 0) {
        std::fprintf(stderr, "cannot open the simulated crate\n");
        return 1;
    }
    std::unique_ptr<KORUHVNode> tree(vt::buildTree(handle, 2));
    autotest::TestMainWindow window;
    window.resize(1200, 800);
    window.show();

    std::vector<int> sizes;
    for (int n : {250, 1000, 4000})
        if (n <= largest)
            sizes.push_back(n);
    std::printf("%8s %16s %16s %16s %16s %14s\n", "actions", "executor ms/act", "dialog ms/act",
                "exec last 10%", "dialog last 10%", "dialog/exec");
    std::vector<Cost> execCosts, dialogCosts;
    bool ok = true;
    for (int n : sizes) {
        const Cost e = runExecutor(tree.get(), n);
        const Cost d = runDialog(tree.get(), n);
        ok = ok && e.ok && d.ok;
        execCosts.push_back(e);
        dialogCosts.push_back(d);
        std::printf("%8d %16.3f %16.3f %16.3f %16.3f %14.2f\n", n, e.perAction, d.perAction, e.lastTenth,
                    d.lastTenth, d.perAction / e.perAction);
        std::fflush(stdout);
    }
    if (sizes.size() > 1) {
        const size_t last = sizes.size() - 1;
        std::printf("ratio %d/%d per action: executor %.2f, dialog %.2f; last tenth: executor %.2f, "
                    "dialog %.2f\n",
                    sizes[last], sizes[0], execCosts[last].perAction / execCosts[0].perAction,
                    dialogCosts[last].perAction / dialogCosts[0].perAction,
                    execCosts[last].lastTenth / execCosts[0].lastTenth,
                    dialogCosts[last].lastTenth / dialogCosts[0].lastTenth);
    }
    if (!ok)
        std::printf("some run did not complete every action: the numbers above are not comparable\n");
    tree.reset();
    KORUHV_DeinitSystem(handle);
    sim.stop();
    return ok ? 0 : 1;
}
