/* The system panel's decisions as data and plain functions: which buttons,
 * rows and pictures each system type gets, the texts the panel shows, the
 * lamp pictures of the status words, the fan-status pairs and the flag masks
 * of the panel's dialogs. No widget here, so tests reach it by tables. */
#ifndef SYSTEMPANELLAYOUT_H
#define SYSTEMPANELLAYOUT_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <vector>

namespace syspanel {

/* The thirteen command buttons, in the panel's order. */
enum class Cmd : int {
    Sessions,
    Kill,
    ClearAlarm,
    ResetFlagCfg,
    CrateMap,
    GenSignCfg,
    TechInfo,
    SysInfo,
    CpuInfo,
    GlobalOn,
    GlobalOff,
    RecoveryFlag,
    Pw48
};
constexpr int CommandButtonCount = 13;

/* What a command button runs (one slot of the panel each). */
enum class Action : int {
    Session,
    CrateMap,
    TechInfo,
    TechInfoRack,
    SysInfo,
    SysInfoRack,
    ResetFlags,
    ResetHV,
    RecoveryHV,
    GenSignCfg,
    Kill,
    TurnOffAll,
    ClearAlarm,
    GlobalOn,
    GlobalOff,
    Pw48
};

struct ButtonPlace {
    Cmd button;
    Action action;
};

/* The frame below the header of one system type. */
enum class Frame { None, MainWidgets, LogRow };

struct TypeLayout {
    int type;
    Frame frame;
    /* Pictures of the selection look; empty: the picture is left alone. */
    const char *pictureSelected;
    const char *pictureUnselected;
    std::vector<ButtonPlace> row1, row2, row3;
    /* Main layout order of the rows (1..3), the spacing before the first
     * and the spacing after each. */
    std::vector<int> rowOrder;
    int spacingBefore;
    std::vector<int> spacingAfter;
    /* Buttons restyled by the selection look. */
    std::vector<Cmd> restyled;
};

/* The layout of a system type; the last entry (type -2) stands for every
 * type without a row of its own. The custom view is type -1. */
const TypeLayout &layoutFor(int systemType);

QString buttonText(Cmd button, int systemType);
/* The first eight buttons take the small panel font. */
bool buttonHasSmallFont(Cmd button);

QString modelText(int systemType, bool hasRoot, int slotCount);
QString connectionText(int systemType, int linkType, const QString &address);

/* Names of system parameters that get no row (whole name, any case). */
const QStringList &hiddenParameterNames();
bool isHiddenParameter(const QString &name);

/* Lamp pictures. */
enum class Lamp { On, Off, Err };
QString lampPicture(Lamp lamp);

/* The five status lamps in the order "Channel ON", "OVV", "UNV", "OVC",
 * "Trip". */
using StatusLamps = std::array<Lamp, 5>;
StatusLamps lampsFromOutputWord(unsigned word);     /* "FrontPanOut" */
StatusLamps lampsFromFrontPanelWord(unsigned word); /* "FrontPan" */
/* The one reading of the AC/DC status word ("ACDCStatus") for the 48 V
 * supply, for its lamp and its "48V PW" button, when the panel is built and
 * at every live value: on when bit 0 is set. The word's other bits say other
 * things and do not light the lamp. */
bool pw48IsOn(unsigned acdcStatus);
Lamp pw48Lamp(unsigned acdcStatus);

/* Fan status "s0:r0:s1:r1...": the complete (status, reading) pairs; a
 * field that is no number reads 0, a trailing field without partner is
 * left out. */
struct FanPair {
    int status = 0;
    int reading = 0;
};
QVector<FanPair> fanPairs(const QString &value);
Lamp fanLamp(int status);

/* Six-bit flag masks of the general-signal and reset-flag dialogs. */
std::array<bool, 6> flagsOfMask(int mask);
int maskOfFlags(const std::array<bool, 6> &flags);
/* What the mainframe is sent for a mask: bits 8-15 set. */
int flagWriteValue(int mask);

/* "RstRecFlag" values of the HV recovery (reset = false) and HV reset
 * buttons 0..5. */
int rstRecFlagValue(bool reset, int buttonIndex);

/* Confirmed commands: the confirmation text (%0 = system name) and the
 * wrapper command of an action on a system type; the command is empty when
 * the action turns the channels off or clears the NIM modules' alarms by
 * writes instead. */
enum class CommandEffect { ExecComm, TurnOffAllChannels, ClearAlarmForNim };
struct CommandPlan {
    QString question;
    CommandEffect effect = CommandEffect::ExecComm;
    QString command;
};
CommandPlan commandPlan(Action action, int systemType);

/* The warning text of a refused command. */
QString commandFailedText(const QString &command, const QString &systemName, int code, const QString &error);
QString channelsNotOffText(const QString &systemName, int refused, const QString &error);

} // namespace syspanel

#endif
