// Saved configurations: the main file ("ksc", holding its own base name) and
// the folder beside it with one "kvc" file per stored system.
#include "KORUHVUtils.h"

#include "KORUHVNode.h"
#include "KvcStream.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString kscSuffix()
{
    return QStringLiteral(".%1").arg(QStringLiteral("ksc"));
}

bool endsInKsc(const QString &path)
{
    return path.endsWith(kscSuffix(), Qt::CaseInsensitive);
}

// One component of a per-system file name. Ordinary names pass unchanged, so
// files saved before still have the names they had; a separator or control
// character could make the name reach outside the folder and becomes '_'.
QString safeNameComponent(QString text)
{
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (u == u'/' || u == u'\\' || u < 0x20 || u == 0x7F)
            c = QChar(u'_');
    }
    return text;
}

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // commit() does not look at the last flush of buffered data, so a write
    // that stops half way (disk full) is flushed and checked here first.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

QString KORUHVUtils::KORUHVMainConfigurationFilePath(QString chosenPath)
{
    if (endsInKsc(chosenPath))
        return chosenPath;
    return chosenPath + kscSuffix();
}

QString KORUHVUtils::KORUHVConfigurationBaseName(QString chosenPath)
{
    const QFileInfo info(chosenPath);
    return endsInKsc(chosenPath) ? info.completeBaseName() : info.fileName();
}

QString KORUHVUtils::KORUHVConfigurationFolderPath(QString chosenPath)
{
    const QFileInfo mainFile(KORUHVMainConfigurationFilePath(chosenPath));
    return mainFile.path() + QLatin1Char('/') + KORUHVConfigurationBaseName(chosenPath);
}

QString KORUHVUtils::KORUHVSingleConfigurationFilePath(QString folder, QString systemName, QString initParam)
{
    const QString address = QString(initParam).replace(QLatin1Char('.'), QLatin1Char('_'), Qt::CaseSensitive);
    return QStringLiteral("%1/%2-%3.%4")
        .arg(folder, safeNameComponent(systemName), safeNameComponent(address), QStringLiteral("kvc"));
}

bool KORUHVUtils::KORUHVSaveMainConfigurationFile(QString chosenPath)
{
    const QString baseName = KORUHVConfigurationBaseName(chosenPath);
    // A path that names a folder ("/data/") has no base name and would put
    // the per-system files into that folder itself.
    if (baseName.isEmpty())
        return false;
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QDataStream stream(&buffer);
        stream.setVersion(QDataStream::Qt_4_6);
        stream << baseName;
    }
    return writeWhole(KORUHVMainConfigurationFilePath(chosenPath), bytes);
}

bool KORUHVUtils::KORUHVSaveSingleConfigurationFile(QString folder, KORUHVNode *systemNode, bool withView,
                                                    bool withCustomView)
{
    if (!systemNode)
        return false;
    if (!QDir().mkpath(folder))
        return false;
    const QString path =
        KORUHVSingleConfigurationFilePath(folder, systemNode->getNodeName(), systemNode->getInitParam());
    bool encoded = false;
    const QByteArray bytes =
        KvcStream::encode(KORUHVCreateHashFromNodeVector(systemNode, withView, withCustomView), &encoded);
    if (!encoded)
        return false;
    return writeWhole(path, bytes);
}

QMultiHash<QString, QVariant> KORUHVUtils::KORUHVLoadConfigurationFile(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QMultiHash<QString, QVariant>();
    return KvcStream::read(&file);
}

bool KORUHVUtils::KORUHVDeleteConfigurationFile(QString path)
{
    QFile::remove(path);
    return !QFileInfo::exists(path);
}
