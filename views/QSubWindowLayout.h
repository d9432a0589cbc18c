/* Plain rules of the channel table's layout, kept apart from the window so
 * they are tested by tables: the order of the leading columns, the columns
 * of the Minimal view and the row labels. */
#ifndef QSUBWINDOWLAYOUT_H
#define QSUBWINDOWLAYOUT_H

#include <QString>
#include <QStringList>

namespace koruviews {

/* Leading columns of a normal window, in order: a parameter whose name
 * matches pass i (case ignored) opens column i, when some channel has one. */
int leadingColumnPassCount();
bool matchesLeadingPass(int pass, const QString &parameterName);
/* The set-value passes carry the offset menu. */
bool isSetValuePass(int pass);

/* Columns the Minimal view keeps (case ignored). */
bool isMinimalViewColumn(const QString &header);

/* Row label of a channel. P8080 crates (system type 16) number their slots
 * in groups of 25. */
QString rowLabel(bool customView, int rootSystemType, const QString &systemName, unsigned short slot,
                 const QString &boardName, const QString &channelName);

} // namespace koruviews

#endif
