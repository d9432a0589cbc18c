#include "KORUHVWorkingFile.h"

#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool KORUHVReplaceFile(const QString &path, const QByteArray &bytes)
{
    /* Created exclusively (never through an existing name) in the same
     * folder, so that the rename stays within one file system. */
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return false;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (file.write(bytes) != bytes.size() || !file.flush())
        return false;
    const QByteArray from = QFile::encodeName(file.fileName());
    const QByteArray to = QFile::encodeName(path);
    if (std::rename(from.constData(), to.constData()) != 0)
        return false;
    file.setAutoRemove(false);
    return true;
}

QByteArray KORUHVReadFileNoFollow(const QString &path, bool *ok)
{
    if (ok)
        *ok = false;
    /* Non-blocking: a pipe planted at the name must not hold the caller. */
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return QByteArray();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return QByteArray();
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QByteArray();
    }
    const QByteArray bytes = file.readAll();
    if (ok)
        *ok = true;
    return bytes;
}
