/* Plain functions behind the system dialogs: how the device texts of the
 * system parameters ("Sessions", "CPULoad", "MemoryStatus", "HvPwSM",
 * "PWCurrent", front-panel words, board information...) turn into what the
 * dialogs and the panel lamps show. No widget here, so tables of cases test
 * every rule without a window. */
#ifndef SYSDIALOGTEXTS_H
#define SYSDIALOGTEXTS_H

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVector>

class KORUHVNode;

namespace sysdlg {

/* ---- parameters of a system root node ---- */

/* The first (or, with lastWins, the last) parameter of the system node whose
 * whole name equals name, ignoring letter case; null when none or no node. */
KORUHVNode *findParameter(KORUHVNode *system, const QString &name, bool lastWins);
/* The current value of that parameter as text, empty when there is none. */
QString parameterText(KORUHVNode *system, const QString &name, bool lastWins);
/* Low 16 bits of a value read as an unsigned number; a value that does not
 * read as a number counts as 0. */
unsigned short lowWord(const QVariant &value);

/* ---- session list ("Sessions") ---- */

constexpr int kSessionColumns = 5;
/* Records separated by ';', fields by ':' (empty ones kept). Empty records are
 * skipped, records of more than five fields dropped whole. A client address
 * with ':' (IPv6) therefore drops its record: a limit of the value's format. */
QVector<QStringList> parseSessionList(const QString &text);
/* Text of a field in its column: the login time (column 3) carries '_' where
 * the time has ':'. */
QString sessionCellText(int column, const QString &field);
QStringList sessionHeaders();

/* ---- system information ---- */

/* 1-, 5- and 15-minute loads, as received (at most three fields). */
QStringList cpuLoadFields(const QString &text);
/* Total, free, used, buffers, trimmed (at most four fields). */
QStringList memStatusFields(const QString &text);

/* ---- crate map ---- */

struct CrateMapSlot {
    bool present = false; /* false: empty slot placeholder */
    QString model;
    QString description;
    unsigned serial = 0;
    QString fwRelMin;
    QString fwRelMax;
    QString initParam; /* of the board node (type-5 systems carry the address there) */
};
QStringList crateMapHeaders(int systemType);
/* "Rack Map" for type 16, "Crate Map" otherwise. */
QString crateMapTitle(int systemType);
/* The cells of the row of child index i. */
QStringList crateMapRow(int systemType, int index, const CrateMapSlot &slot);
/* Reads the board information of a slot node (null gives an empty slot). */
CrateMapSlot crateMapSlotOf(KORUHVNode *slotNode);

/* ---- technical information of a mainframe ---- */

/* "SwRelease": firmware and FPGA release ("-" separated); a missing part is
 * an empty optional, so the label keeps its text. */
struct ReleaseParts {
    bool hasFirmware = false;
    QString firmware;
    bool hasFpga = false;
    QString fpga;
};
ReleaseParts swReleaseParts(const QString &text);

/* One part of "HvPwSM": its state text and the model text to show (for "-1"
 * and "1" the model label keeps its text: keepModel). */
struct PowerModuleText {
    QString state;
    bool keepModel = false;
    QString model;
};
PowerModuleText powerModuleText(const QString &part);

enum class CurrentColour { Keep, Green, Red };
/* Primary supply: 12 and above red. */
CurrentColour primaryCurrentColour(const QString &current);
/* Boost supply: no colour without a model; limit 24 for "J7740", else 12. */
CurrentColour boostCurrentColour(const QString &current, const QString &model);
QString currentStyle(CurrentColour colour); /* empty for Keep */

/* "FrontPanIn" as the dialog shows it. */
struct FrontPanInView {
    QString vsel;
    QString isel;
    bool kill = false;
    bool interlock = false;
    QString enable;
};
FrontPanInView frontPanInView(unsigned short word);

/* Bits of "FrontPanOut" and the dialog lamps they drive. */
struct BitLamp {
    int bit;
    const char *lamp;
};
QVector<BitLamp> frontPanOutLamps();

/* ---- live technical and system-information values ---- */

/* Dialog setter a live name reaches (first match): */
enum class TechSetter { None, HvPwSM, PWCurrent, PWVoltage, FrontPanOut, FrontPanIn, OutputLevel };
TechSetter techSetterFor(const QString &name);
/* Setter of the open system-information dialog a live name reaches. */
enum class SysInfoSetter { None, CpuLoad, MemStatus, CmdQueue };
SysInfoSetter sysInfoSetterFor(const QString &name);

/* ---- rack supply ---- */

/* Serial number of the rack, read as unsigned 32-bit and shown unsigned. */
QString rackSerialText(const QVariant &value);
/* Combo items of "ACDCIlim" (the value is the index). */
QStringList acdcIlimItems();
/* Index to select for a stored value: -1 when outside the items. */
int acdcIlimIndex(int stored);
/* Whether OK writes: a limit node, a valid choice, and a change. */
bool acdcIlimWrites(bool hasNode, int storedIndex, int chosenIndex);

/* ---- web interface ---- */

constexpr const char *kWebUserAgent = "KORU Control Sw Desktop";
/* "http://" + init parameter when it is a host with an optional port and
 * nothing else; an invalid QUrl otherwise. */
QUrl webStartUrl(const QString &initParam);
/* start + "/session_login.cgi?user=U&pass=P" with U and P each
 * percent-encoded, inserted in one pass. */
QUrl webLoginUrl(const QUrl &start, const QString &user, const QString &password);
/* Same scheme, host and port (default ports made explicit). */
bool sameOrigin(const QUrl &a, const QUrl &b);

} // namespace sysdlg

#endif
