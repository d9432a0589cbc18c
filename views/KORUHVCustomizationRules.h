/* Plain decisions behind set groups, saved customizations and the custom
 * view, kept apart from the dialogs so that tables of cases test them. */
#ifndef KORUHVCUSTOMIZATIONRULES_H
#define KORUHVCUSTOMIZATIONRULES_H

#include <QMultiHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class KORUHVNode;

namespace KORUHVCustomizationRules {

using Group = QVector<KORUHVNode *>;

/* The value one member of a group gets for the value shown by the group's
 * editor. An on/off member takes a state (a bool) as it is, whatever its
 * own words for it; a text is looked up in its own "Onstate"/"Offstate".
 * Enumeration values travel by their display text, looked up in the
 * member's own "Enum" texts; numbers must lie within the member's own
 * "Minval"/"Maxval"; a register ("TripInt", "TripExt") takes the word its
 * editor's hexadecimal text spells. false: the member cannot take that
 * value and must not be written; why (when given) says so to the operator,
 * e.g. "outside its limits 0 to 1000". */
bool valueForMember(KORUHVNode *member, const QVariant &shown, QVariant *out, QString *why = nullptr);

/* The widest "Minval".."Maxval" of the numeric parameters among a group's
 * nodes (channel nodes are passed over; a member without a limit leaves
 * that side open, at +-2147483647). false when no member is a number.
 * A group's editor refuses in its field only what no member takes; each
 * member is then checked on its own. */
bool widestLimits(const QVector<KORUHVNode *> &members, double *lo, double *hi);

/* Marks a member that was not written the way a refused write marks it:
 * old value kept, quality "write refused". */
void markNotWritten(KORUHVNode *member);

/* "Group 0" unless taken, else "Group n" with the first free n. */
QString nextDefaultGroupName(const QStringList &taken);

/* Drops from every group the nodes of that system handle (and, when slot is
 * not negative, of that board slot). Emptied groups are erased; their former
 * positions come back in removed, highest first. */
void purgeGroups(QVector<Group> &groups, int sysHandle, int slot, QVector<int> *removed);

/* True when any node of the vector belongs to that handle (and slot). */
bool touches(const QVector<KORUHVNode *> &nodes, int sysHandle, int slot);

/* One row of the load dialog, read from an untrusted kvc hash. */
struct LoadRow {
    QString name;
    QString initParam;
    int psType = 0;
    int connType = 0;
    bool isCustomView = false;
    bool usable = false; /* false: shown disabled, never connected */
};
LoadRow loadRowFromHash(const QMultiHash<QString, QVariant> &hash);

/* Supply and link combinations the connection dialog can produce. */
bool isOfferedConnection(int psType, int connType);
/* Longest address the wrapper takes (80-byte buffer with its NUL). */
constexpr int MaxInitParamLength = 79;

QString psTypeText(int psType);
QString connTypeText(int connType);
/* Supply types whose rows ask for a login. */
bool needsLogin(int psType);

/* Position of child among parent's children by pointer; -1 when absent. */
int childPosition(KORUHVNode *parent, KORUHVNode *child);

/* Label of a board in the custom-view dialog's tree, and the board key a
 * list row keeps for it (the text inside "[...]", else the label). */
QString customViewBoardLabel(KORUHVNode *board);
QString boardKeyOfLabel(const QString &label);

} // namespace KORUHVCustomizationRules

#endif
