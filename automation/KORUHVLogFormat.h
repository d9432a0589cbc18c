/* The change-log text: one line per logged event, the default file, and the
 * encoding. Plain functions, safe on any thread (they touch no widget, node
 * or global); the log writer thread calls them.
 *
 * Line forms (each ends with ";", a blank and a line feed):
 *   channel >= 0:               "[ts]: [sys] bd [b] ch [c] par [p] val [v]; "
 *   board >= 0, channel < 0:    "[ts]: [sys] bd [b] par [p] val [v]; "
 *   both < 0, name not empty:   "[ts]: [sys] par [p] val [v]; "
 *   both < 0, name empty:       "[ts]: [sys] live inserted/removed board; "
 * Lines are built by concatenation in one pass, so a '%' in a name or value
 * stays as it is. */
#ifndef KORUHVLOGFORMAT_H
#define KORUHVLOGFORMAT_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

namespace korulog {

/* "yyyy-MM-ddThh:mm:ss.zzz" of a buffer's creation time. */
QString timestampText(const QDateTime &when);

/* A value as a line shows it: integers in decimal, floating point with 6
 * significant digits ('g'), on/off as true/false, texts unchanged. */
QString valueText(const QVariant &value);

/* Appends the event's line to out. */
void appendLine(QString &out, const QString &timestamp, const QString &sysName, int board, int channel,
                const QString &parameter, const QVariant &value);

/* Parameter name of the line (system form) that reports records dropped
 * while the file could not be written: "[ts]: [sys] par [DroppedLogRecords]
 * val [n]; ". */
extern const char *const droppedRecordsName;
QString droppedLine(const QString &timestamp, const QString &sysName, qint64 count);

/* The text in the codeset of the locale the environment selects (the
 * encoding of the system's other text files); the plain C locale writes
 * Latin-1 so that every character up to U+00FF survives. */
QByteArray encodeForLog(const QString &text);

/* The folder of the default file: the home folder, cut before a path
 * component that is exactly "snap" (a sandboxed home), so "/home/snapper"
 * stays whole. */
QString defaultLogFolder(const QString &home);
/* "VUDIZERUDar_<sysName>.log" for system type 13, else "RORERAVA2020.log";
 * a '/' in the name becomes '_' so the file stays in the folder. */
QString defaultLogFileName(int sysType, const QString &sysName);
/* The file a batch goes to: the chosen name when set, else the default file
 * in the default folder of home. */
QString logFilePath(const QString &chosen, const QString &home, int sysType, const QString &sysName);

} // namespace korulog

#endif
