/* Files the program writes in its working folder, which others may be able
 * to write into: a name there is never followed through a symbolic link. */
#ifndef KORUHVWORKINGFILE_H
#define KORUHVWORKINGFILE_H

#include <QByteArray>
#include <QString>

/* Writes bytes as a new file beside path and renames it into place: a link
 * planted at path is replaced, its target left untouched. False (and path
 * unchanged) when the file could not be written. */
bool KORUHVReplaceFile(const QString &path, const QByteArray &bytes);
/* The file's bytes, or empty (ok false) when it is missing, unreadable or a
 * symbolic link. */
QByteArray KORUHVReadFileNoFollow(const QString &path, bool *ok = nullptr);

#endif
