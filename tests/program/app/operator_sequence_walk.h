/* The operator-sequence walk's machinery: what can be connected, the walk
 * (generator, numbered log, the window's state as the steps see it, answers
 * to modal boxes, running steps and checking after each) and the helpers of
 * the steps, which operator_sequence_test.cpp lists in its step table. */
#ifndef OPERATOR_SEQUENCE_WALK_H
#define OPERATOR_SEQUENCE_WALK_H

#include "KORUHVGuiPulse.h"
#include "KORUHVScriptExecutor.h"
#include "KORUHVUtils.h"
#include "QCreateSetGroupsDialog.h"
#include "QDisconnectDialog.h"
#include "QSetGroupValueDialog.h"
#include "operator_sequence_checks.h"
#include "shell_fixture.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>

namespace opseq {

/* ------------------------------------------------------------ what can be connected */

inline fakehv::Param param(unsigned type, unsigned mode, fakehv::Raw value,
                           std::map<std::string, fakehv::Raw> props = {})
{
    fakehv::Param p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    p.props = std::move(props);
    return p;
}

inline void addChannelParams(fakehv::Board &b)
{
    for (auto &ch : b.channels) {
        ch.params.push_back({"V0Set", param(0, 2, fakehv::Raw::f32(10.f),
                                            {{"Minval", fakehv::Raw::f32(0.f)},
                                             {"Maxval", fakehv::Raw::f32(3000.f)},
                                             {"Unit", fakehv::Raw::u16(2)},
                                             {"Exp", fakehv::Raw::i16(0)},
                                             {"Decimal", fakehv::Raw::i16(1)}})});
        ch.params.push_back({"VMon", param(0, 0, fakehv::Raw::f32(0.f))});
        ch.params.push_back(
            {"Pw", param(1, 2, fakehv::Raw::u32(0),
                         {{"Onstate", fakehv::Raw::text("On")}, {"Offstate", fakehv::Raw::text("Off")}})});
        ch.params.push_back({"Status", param(2, 0, fakehv::Raw::u32(0))});
    }
}

inline fakehv::Board &addBoard(fakehv::System &s, unsigned short slot, const char *model, uint32_t serial)
{
    fakehv::Board &b = s.addBoard(slot, 2, model, serial);
    b.params.push_back({"BdStatus", param(3, 0, fakehv::Raw::u32(0))});
    b.params.push_back(
        {"HVMax", param(0, 2, fakehv::Raw::f32(3000.f),
                        {{"Minval", fakehv::Raw::f32(0.f)}, {"Maxval", fakehv::Raw::f32(3000.f)}})});
    addChannelParams(b);
    return b;
}

/* A 16-slot system with boards in slots 0 and 1. */
inline fakehv::System crateModel(const char *modelName)
{
    fakehv::System s;
    s.props.push_back({"ModelName", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text(modelName)}});
    s.props.push_back({"IPAddr", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("192.168.0.99")}});
    s.crate.resize(16);
    addBoard(s, 0, "HB3002", 7);
    addBoard(s, 1, "HB3002", 8);
    return s;
}

inline fakehv::System vmeModel()
{
    fakehv::System s;
    addBoard(s, 0, "V1", 1);
    return s;
}

struct Offer {
    const char *what; /* as the walk's steps name it */
    int sysType;
    int linkType;
    const char *init;
    const char *name; /* the system's name, a W38XX board's name */
    char bridge;      /* W38XX: 'A' or 'B' */
};

inline const Offer kOffers[] = {
    {"crate HV1", 2, 0, "10.0.0.1", "HV1", 0},
    {"crate HV2", 2, 0, "10.0.0.2", "HV2", 0},
    {"rack supply", KORUHV_SYSTYPE_P8080, 0, "127.0.0.10", "Rack", 0},
    {"desktop module", 6, 0, "127.0.0.2_0", "Desk", 0},
    {"W38XX bridge A board A0", 5, 4, "0_1_8000", "A0", 'A'},
    {"W38XX bridge A board A1", 5, 4, "0_1_9000", "A1", 'A'},
    {"W38XX bridge A board A2", 5, 4, "0_1_a000", "A2", 'A'},
    {"W38XX bridge B board B0", 5, 4, "0_2_8000", "B0", 'B'},
    {"W38XX bridge B board B1", 5, 4, "0_2_9000", "B1", 'B'},
};

/* ------------------------------------------------------------ the walk */

inline std::vector<int> envList(const char *var)
{
    std::vector<int> out;
    const char *text = std::getenv(var);
    for (const QString &part :
         QString::fromLatin1(text ? text : "").split(QLatin1Char(','), Qt::SkipEmptyParts))
        out.push_back(part.trimmed().toInt());
    return out;
}

inline long envNumber(const char *var, long otherwise)
{
    const char *text = std::getenv(var);
    return text && *text ? std::strtol(text, nullptr, 10) : otherwise;
}

/* What a walk depends on follows its steps, never the wall clock, so that
 * a replay walks and finds alike: a script's waits pass by a test clock
 * that each step moves on by kStepMs, modal boxes are answered as they
 * show, event processing in progress dialogs happens at every beat, no
 * cursor blinks and nothing animates. Restored when the walk ends. */
constexpr qint64 kStepMs = 1000;

class StepDrivenTime {
public:
    explicit StepDrivenTime(QMainWindow *window)
        : window(window), flashMs(QApplication::cursorFlashTime()), animated(window->isAnimated()),
          effects(QApplication::isEffectEnabled(Qt::UI_General))
    {
        KORUHVScriptExecutor::setClockForTest(true);
        KORUHVGuiPulse::setIntervalForTest(0);
        QApplication::setCursorFlashTime(0);
        QApplication::setEffectEnabled(Qt::UI_General, false);
        window->setAnimated(false);
    }
    ~StepDrivenTime()
    {
        KORUHVScriptExecutor::setClockForTest(false);
        KORUHVGuiPulse::setIntervalForTest(25);
        QApplication::setCursorFlashTime(flashMs);
        QApplication::setEffectEnabled(Qt::UI_General, effects);
        window->setAnimated(animated);
    }
    StepDrivenTime(const StepDrivenTime &) = delete;
    StepDrivenTime &operator=(const StepDrivenTime &) = delete;

private:
    QMainWindow *window;
    int flashMs;
    bool animated;
    bool effects;
};

class Walk;
inline QVector<QScriptDialog *> scriptDialogs(bool running);

/* One row of the step table: its weight, name, whether it can run now, and
 * what it does (choosing with the walk's generator, announcing itself
 * before it acts). */
struct Step {
    int weight;
    const char *name;
    std::function<bool(Walk &)> possible;
    std::function<void(Walk &)> act;
};

const std::vector<Step> &steps();

class Walk {
public:
    Walk(MainWindow *window, ShellTestEnvironment *env, unsigned seed)
        : w(window), env(env), seed(seed), rng(seed)
    {
    }

    /* ---- choosing ---- */
    int pick(int n) { return n <= 1 ? 0 : int(rng() % unsigned(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    template <typename T> T pickOf(const QVector<T> &v) { return v[pick(int(v.size()))]; }

    /* ---- the log ---- */
    void announce(const std::string &what)
    {
        line = "step " + std::to_string(stepNo) + ": " + what;
        log.push_back(line);
        std::fprintf(stderr, "[opseq %u] %s\n", seed, line.c_str());
        std::fflush(stderr);
    }
    std::string history() const
    {
        std::string out;
        for (const std::string &l : log)
            out += "  " + l + "\n";
        return out;
    }

    /* ---- the window's state ---- */
    QVector<QSystemInterface *> systems() const { return w->getSysInterfaceVector(); }
    QSystemInterface *customView() const { return systems().value(w->hasCustomView()); }
    QSystemInterface *byInit(const char *init) const
    {
        for (QSystemInterface *s : systems())
            if (!s->getIsCustomView() && s->getSysInitParam() == QLatin1String(init))
                return s;
        return nullptr;
    }
    int mains() const
    {
        int n = 0;
        for (QSystemInterface *s : systems())
            n += s->getIsMainInterface() ? 1 : 0;
        return n;
    }
    static bool lost(QSystemInterface *s)
    {
        return s->getSystemNode() && s->getSystemNode()->getConnectionStatus() == CONN_KO;
    }
    /* Systems (not the custom view) whose own panel shows, connected. */
    QVector<QSystemInterface *> panelSystems() const
    {
        QVector<QSystemInterface *> out;
        for (QSystemInterface *s : systems())
            if (!s->getIsCustomView() && s->getSystemInfoWidget() && !lost(opseq::displayOf(w, s)))
                out.append(s);
        return out;
    }
    /* Handles of the connected systems shown with s (its W38XX group). */
    std::set<int> groupHandles(QSystemInterface *s) const
    {
        std::set<int> out;
        for (QSystemInterface *o : systems())
            if (o == s || opseq::sameBridge(o, s))
                out.insert(o->getSystemHandle());
        return out;
    }
    std::set<int> ownerHandle(const void *node) const
    {
        QSystemInterface *s = opseq::ownerOf(w, node);
        return s ? std::set<int>{s->getSystemHandle()} : std::set<int>{};
    }

    /* ---- modal boxes ---- */
    /* The next question box with this button gets it; every other box its
     * default button, every other dialog is rejected (file choosers take
     * filePath when one is set). */
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    QString filePath;
    void answerModal(QWidget *m)
    {
        if (auto *box = qobject_cast<QMessageBox *>(m)) {
            if (answer != QMessageBox::NoButton && box->button(answer)) {
                QAbstractButton *b = box->button(answer);
                answer = QMessageBox::NoButton;
                b->click();
                return;
            }
            clickButton()(m);
            return;
        }
        if (auto *files = qobject_cast<QFileDialog *>(m); files && !filePath.isEmpty()) {
            files->setOption(QFileDialog::DontConfirmOverwrite, true);
            files->setDirectory(QFileInfo(filePath).absolutePath());
            if (auto *edit = files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                edit->setText(QFileInfo(filePath).fileName());
            else
                files->selectFile(filePath);
            filePath.clear();
            QMetaObject::invokeMethod(files, "done", Q_ARG(int, QDialog::Accepted));
            return;
        }
        koru_test::rejectModal()(m);
    }

    /* Events run until no modal box is left (bounded). */
    void settle()
    {
        QCoreApplication::processEvents();
        waitUntil([] { return !koru_test::activeModalToAnswer(); }, 60000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    /* ---- steps ---- */
    /* Runs n steps; false with the findings when an invariant broke. */
    bool run(int n, std::string *report, std::set<int> *tolerated)
    {
        StepDrivenTime time(w);
        ModalAnswerer answerer([this](QWidget *m) { answerModal(m); }, 60000, koru_test::Notice::OnShow);
        const std::vector<int> knownList = envList("KORU_OPSEQ_KNOWN");
        const std::set<int> known(knownList.begin(), knownList.end());
        for (stepNo = 1; stepNo <= n; ++stepNo) {
            std::vector<const Step *> open;
            int total = 0;
            for (const Step &s : steps())
                if (s.possible(*this))
                    open.push_back(&s), total += s.weight;
            int at = pick(total);
            const Step *chosen = open.front();
            for (const Step *s : open) {
                if (at < s->weight) {
                    chosen = s;
                    break;
                }
                at -= s->weight;
            }
            expected.clear();
            fakehv::clearCalls();
            chosen->act(*this);
            settle();
            passTime();
            Findings found = opseq::checkWrites(fakehv::calls(), expected);
            for (auto *check :
                 {opseq::checkPanelsFollowTrees, opseq::checkEditorsOnLiveNodes, opseq::checkW38xxGroups,
                  opseq::checkWidgetIndexes, opseq::checkScriptsAndCells}) {
                Findings more = check(w);
                found.insert(found.end(), more.begin(), more.end());
            }
            Findings menus = opseq::checkMenus(w, groupNames());
            found.insert(found.end(), menus.begin(), menus.end());
            if (found.empty())
                continue;
            bool allKnown = true;
            std::string text;
            std::set<std::string> lines;
            for (const opseq::Finding &f : found) {
                allKnown = allKnown && f.fault != 0 && known.count(f.fault);
                const std::string one = "  after " + line + ": " + f.text +
                                        (f.fault ? " [known fault " + std::to_string(f.fault) + "]" : "") +
                                        "\n";
                if (lines.insert(one).second)
                    text += one;
            }
            if (allKnown) {
                /* Development only: each tolerated fault is named at its
                 * first finding (and each other kind of finding of it once,
                 * "also"), and the walk goes on. */
                for (const opseq::Finding &f : found) {
                    std::string kind = std::to_string(f.fault) + ":";
                    for (char ch : f.text)
                        if (!std::isdigit(static_cast<unsigned char>(ch)))
                            kind += ch;
                    const bool first = tolerated->insert(f.fault).second;
                    if (seenKinds.insert(kind).second)
                        std::fprintf(stderr, "[opseq %u] known fault %d %s at step %d: %s\n", seed, f.fault,
                                     first ? "first found" : "also", stepNo, f.text.c_str());
                }
                std::fflush(stderr);
                continue;
            }
            *report = "seed " + std::to_string(seed) + ", " + std::to_string(stepNo) + " steps:\n" +
                      history() + "findings:\n" + text + "replay: KORU_OPSEQ_SEED=" + std::to_string(seed) +
                      " KORU_OPSEQ_STEPS=" + std::to_string(stepNo);
            return false;
        }
        return true;
    }

    /* The walk's clock moves on by a step: a script whose wait ran out ends
     * now, named in the log. */
    void passTime();

    QStringList groupNames() const { return knownGroups; }

    MainWindow *w;
    ShellTestEnvironment *env;
    unsigned seed;
    std::mt19937 rng;
    int stepNo = 0;
    std::string line;
    std::vector<std::string> log;
    /* Kinds of tolerated findings already named (development only). */
    std::set<std::string> seenKinds;
    /* Handles the current step's writes may reach. */
    std::set<int> expected;
    /* The set groups as the operator made and deleted them (names in menu
     * order); groups emptied by disconnections leave it too. */
    QStringList knownGroups;
    int groupCounter = 0;
    int saveCounter = 0;
};

/* ------------------------------------------------------------ step helpers */

inline void clickDisconnect(QSystemInterface *s)
{
    if (QCustomBox *box = s->getSystemBoxWidget())
        if (auto *b = box->findChild<QPushButton *>(QStringLiteral("disconnectButton")))
            QTest::mouseClick(b, Qt::LeftButton);
}

inline QPointer<QDisconnectDialog> openDisconnectDialog(Walk &walk)
{
    for (QDisconnectDialog *d : walk.w->findChildren<QDisconnectDialog *>())
        if (d->isVisible())
            return d;
    return nullptr;
}

/* Answers an open disconnect dialog: choice -1 Cancel, 0 "All boards", k the
 * k-th board listed. */
inline void answerDisconnectDialog(QDisconnectDialog *d, int choice)
{
    if (!d)
        return;
    QPointer<QDisconnectDialog> alive(d);
    const QList<QRadioButton *> radios = d->findChildren<QRadioButton *>();
    if (choice < 0 || choice >= radios.size()) {
        d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
        return;
    }
    QTest::mouseClick(radios[choice], Qt::LeftButton);
    if (alive)
        d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
}

/* What the disconnect dialog lists now: "All boards", then each W38XX board. */
inline QStringList disconnectChoices(Walk &walk)
{
    QStringList out{QStringLiteral("All boards")};
    for (QSystemInterface *s : walk.systems())
        if (s->getSysType() == KORUHV_SYSTYPE_W38XX)
            out << QString::fromStdString(opseq::name(s).substr(6));
    return out;
}

inline QString bridgeOf(QSystemInterface *s)
{
    return s->getSysInitParam().startsWith(QLatin1String("0_1_")) ? QStringLiteral("A") : QStringLiteral("B");
}

inline std::string describe(QSystemInterface *s)
{
    if (s->getIsCustomView())
        return "the custom view";
    if (s->getSysType() == KORUHV_SYSTYPE_W38XX)
        return "W38XX bridge " + bridgeOf(s).toStdString() + " (" + opseq::name(s).substr(12) + ")";
    return s->getSysName().toStdString();
}

/* Disconnect by the system box; a W38XX group with several boards opens the
 * dialog, answered with the choice (drawn before, so that it is announced). */
inline void disconnectByBox(Walk &walk, QSystemInterface *s, const std::string &prefix)
{
    const bool dialog = s->getSysType() == KORUHV_SYSTYPE_W38XX && s->getSystemNode() &&
                        s->getSystemNode()->getChildren().size() > 1 && !Walk::lost(s);
    if (!dialog) {
        walk.announce(prefix + "disconnect " + describe(s) + " by its box");
        clickDisconnect(s);
        return;
    }
    const QStringList choices = disconnectChoices(walk);
    const int choice = walk.pick(int(choices.size()) + 1) - 1;
    walk.announce(prefix + "disconnect " + describe(s) + " by dialog, choice '" +
                  (choice < 0 ? std::string("Cancel") : choices[choice].toStdString()) + "'");
    clickDisconnect(s);
    answerDisconnectDialog(openDisconnectDialog(walk), choice);
}

/* The system (or custom view) a table window shows. */
inline std::string describeView(Walk &walk, QSubWindow *view)
{
    for (QSystemInterface *s : walk.systems())
        if (s->getSystemSubwinWidget() == view)
            return describe(s);
    return "?";
}

inline QVector<QSystemInterface *> displays(Walk &walk)
{
    QVector<QSystemInterface *> out;
    for (QSystemInterface *s : walk.systems())
        if (s->getIsMainInterface() || s->getIsCustomView())
            out.append(s);
    return out;
}

inline QVector<const Offer *> connectable(Walk &walk, bool w38xx)
{
    QVector<const Offer *> out;
    for (const Offer &o : kOffers) {
        if ((o.bridge != 0) != w38xx || walk.byInit(o.init))
            continue;
        bool joins = false;
        for (QSystemInterface *s : walk.systems())
            joins = joins || (o.bridge && s->getSysType() == KORUHV_SYSTYPE_W38XX &&
                              s->getSysInitParam().startsWith(QLatin1String(o.init).left(4)));
        if (joins || walk.mains() < 4)
            out.append(&o);
    }
    return out;
}

inline void connectOffer(Walk &walk, const Offer *o)
{
    walk.announce(std::string("connect ") + o->what);
    fakehv::queueInit(o->bridge ? vmeModel() : crateModel(o->sysType == 2 ? "HX4400" : "HX9000"));
    if (o->bridge)
        walk.w->connectSystem(o->sysType, o->linkType, QLatin1String(o->init), QStringLiteral("VME"),
                              QLatin1String(o->name), QString());
    else
        walk.w->connectSystem(o->sysType, o->linkType, QLatin1String(o->init), QLatin1String(o->name),
                              QStringLiteral("admin"), QStringLiteral("pw"));
}

/* Crates whose fake script the walk changes for live insertion. */
inline QVector<QSystemInterface *> crates(Walk &walk)
{
    QVector<QSystemInterface *> out;
    for (QSystemInterface *s : walk.panelSystems())
        if (s->getSysType() == 2)
            out.append(s);
    return out;
}

inline QVector<QSubWindow *> tables(Walk &walk)
{
    QVector<QSubWindow *> out;
    for (QSystemInterface *s : displays(walk))
        if (s->getSystemSubwinWidget() && s->getSystemSubwinWidget()->isEnabled() &&
            !Walk::lost(opseq::displayOf(walk.w, s)))
            out.append(s->getSystemSubwinWidget());
    return out;
}

/* The writable, editable, shown V0Set cells of a table. */
inline QVector<QTableWidgetItem *> editableCells(QSubWindow *view)
{
    QVector<QTableWidgetItem *> out;
    QTableWidget *t = view->getTableWidget();
    for (int c = 0; c < t->columnCount(); ++c) {
        if (!t->horizontalHeaderItem(c) || t->horizontalHeaderItem(c)->text() != QLatin1String("V0Set") ||
            t->isColumnHidden(c))
            continue;
        for (int r = 0; r < t->rowCount(); ++r)
            if (t->item(r, c) && !t->isRowHidden(r) && (t->item(r, c)->flags() & Qt::ItemIsEditable))
                out.append(t->item(r, c));
    }
    return out;
}

inline QScriptDialog *scriptDialogOf(QSystemInterface *s)
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QScriptDialog *>(top))
            if (d->property("opseqSystem").toULongLong() == s->getSerial())
                return d;
    return nullptr;
}

/* In the order of their systems' connections: the top-level widgets come
 * in an order of their addresses, which differs from run to run. */
inline QVector<QScriptDialog *> scriptDialogs(bool running)
{
    QVector<QScriptDialog *> out;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QScriptDialog *>(top))
            if (d->isVisible() || d->isMinimized() || d->isRunning())
                if (d->isRunning() == running)
                    out.append(d);
    std::sort(out.begin(), out.end(), [](const QScriptDialog *a, const QScriptDialog *b) {
        return a->property("opseqSystem").toULongLong() < b->property("opseqSystem").toULongLong();
    });
    return out;
}

/* The system whose script the dialog runs. */
inline std::string describeDialog(Walk &walk, const QScriptDialog *d)
{
    for (QSystemInterface *s : walk.systems())
        if (s->getSerial() == d->property("opseqSystem").toULongLong())
            return describe(s);
    return "?";
}

inline void Walk::passTime()
{
    QVector<QPointer<QScriptDialog>> running;
    for (QScriptDialog *d : scriptDialogs(true))
        running.append(d);
    KORUHVScriptExecutor::advanceClockForTest(kStepMs);
    settle();
    for (const QPointer<QScriptDialog> &d : running)
        if (d && !d->isRunning())
            announce("  meanwhile: the script of " + describeDialog(*this, d) + " ended by itself");
}

/* The panel commands the walk uses, by their buttons. */
struct Command {
    const char *name;
    syspanel::Cmd button;
    QMessageBox::StandardButton answer; /* NoButton: a dialog, rejected */
    bool writes;
};
inline const Command kCommands[] = {
    {"KILL, answered Yes", syspanel::Cmd::Kill, QMessageBox::Yes, true},
    {"KILL, answered No", syspanel::Cmd::Kill, QMessageBox::No, false},
    {"CLEAR ALARM, answered Yes", syspanel::Cmd::ClearAlarm, QMessageBox::Yes, true},
    {"CLEAR ALARM, answered No", syspanel::Cmd::ClearAlarm, QMessageBox::No, false},
    {"sessions", syspanel::Cmd::Sessions, QMessageBox::NoButton, false},
    {"crate map", syspanel::Cmd::CrateMap, QMessageBox::NoButton, false},
    {"technical information", syspanel::Cmd::TechInfo, QMessageBox::NoButton, false},
};

inline bool placed(QPushButton *b)
{
    return b && b->parentWidget() && b->parentWidget()->objectName() == QLatin1String("buttonRow");
}

/* A node's V0Set parameters of the connected systems' own boards. */
inline QVector<KORUHVNode *> groupCandidates(Walk &walk)
{
    QVector<KORUHVNode *> out;
    for (QSystemInterface *s : walk.panelSystems())
        for (KORUHVNode *b : opseq::ownBoards(s))
            for (KORUHVNode *ch : b->getChildren())
                for (KORUHVNode *p : ch->getParameters())
                    if (p->getNodeName() == QLatin1String("V0Set"))
                        out.append(p);
    return out;
}

inline void clickTreeItem(QTreeWidget *tree, QTreeWidgetItem *item)
{
    for (QTreeWidgetItem *up = item->parent(); up; up = up->parent())
        up->setExpanded(true);
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

/* Groups > New Group: a name, V0Set and some channels of the tree. */
inline void createGroup(Walk &walk, const QString &name, unsigned selection)
{
    walk.w->getUi()->menuCreateGroup->trigger();
    auto *dialog = qobject_cast<QCreateSetGroupsDialog *>(walk.w->customizationsController()->lastDialog());
    if (!dialog)
        return;
    dialog->show();
    dialog->nameField()->clear();
    QTest::keyClicks(dialog->nameField(), name);
    dialog->parameterCombo()->setCurrentIndex(dialog->parameterCombo()->findText(QStringLiteral("V0Set")));
    QTreeWidget *tree = dialog->tree();
    int k = 0;
    for (int s = 0; s < tree->topLevelItemCount(); ++s)
        for (int b = 0; b < tree->topLevelItem(s)->childCount(); ++b)
            for (int c = 0; c < tree->topLevelItem(s)->child(b)->childCount(); ++c, ++k)
                if (selection & (1u << (k % 32)))
                    clickTreeItem(tree, tree->topLevelItem(s)->child(b)->child(c));
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    if (dialog == walk.w->customizationsController()->lastDialog() && dialog->isVisible())
        dialog->close();
}

/* The handles of the systems whose nodes the group holds (by address). */
inline std::set<int> groupMemberHandles(Walk &walk, int index)
{
    std::set<int> out;
    const auto groups = walk.w->getGroups();
    if (index < 0 || index >= groups.size())
        return out;
    for (KORUHVNode *n : groups[index])
        for (int h : walk.ownerHandle(n))
            out.insert(h);
    return out;
}

/* The groups menu as the operator expects it after disconnections: a group
 * whose members all left is gone. */
inline void forgetEmptiedGroups(Walk &walk)
{
    QStringList now;
    for (QAction *a : walk.w->getUi()->menuViewGroups->actions())
        now << a->text();
    /* Only removals are taken over: a group emptied by the system is gone. */
    QStringList kept;
    int j = 0;
    for (const QString &g : walk.knownGroups)
        if (j < now.size() && now[j] == g)
            kept << g, ++j;
    if (kept.size() == now.size())
        walk.knownGroups = kept;
}

/* Types into the editor's field and ends with the key there. */
inline void typeInto(KORUHVWidgetItem *editor, const QString &text, Qt::Key end)
{
    if (auto *line = editor->findChild<QLineEdit *>()) {
        line->setFocus();
        line->selectAll();
        QTest::keyClicks(line, text);
        QTest::keyClick(line, end);
    }
}

inline KORUHVWidgetItem *openCellEditor(QTableWidget *table)
{
    for (KORUHVWidgetItem *i :
         table->viewport()->findChildren<KORUHVWidgetItem *>(Qt::FindDirectChildrenOnly))
        if (!i->isCancelled())
            return i;
    return nullptr;
}

} // namespace opseq

#endif
