// Action-script files ("kas"): the script text and nothing else, in the text
// encoding of the system locale.
#include "KORUHVUtils.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <clocale>
#include <langinfo.h>
#include <locale.h>

namespace {

constexpr qint64 MaxScriptFileSize = 16 * 1024 * 1024;

// Qt 6 takes the system encoding on Unix to be UTF-8 whatever the locale
// says; scripts were written in the locale's own encoding, so ask the C
// library for the codeset of the locale the environment selects.
QByteArray localeCodeset()
{
    locale_t loc = newlocale(LC_CTYPE_MASK, "", locale_t(0));
    if (loc == locale_t(0))
        loc = newlocale(LC_CTYPE_MASK, "C", locale_t(0));
    QByteArray codeset;
    if (loc != locale_t(0)) {
        const char *name = nl_langinfo_l(CODESET, loc);
        if (name)
            codeset = QByteArray(name);
        freelocale(loc);
    }
    return codeset;
}

QByteArray normalised(QByteArray name)
{
    name = name.toUpper();
    name.replace('-', QByteArray()).replace('_', QByteArray()).replace(' ', QByteArray());
    return name;
}

} // namespace

QByteArray KORUHVUtils::KORUHVLocaleEncodingName()
{
    const QByteArray codeset = localeCodeset();
    const QByteArray n = normalised(codeset);
    if (n.isEmpty() || n == "ANSIX3.41968" || n == "ASCII" || n == "USASCII" || n == "646")
        return QByteArrayLiteral("ISO-8859-1");
    if (n == "UTF8")
        return QByteArrayLiteral("UTF-8");
    return codeset;
}

namespace {

QByteArray encodeText(const QString &text)
{
    QStringEncoder encoder(KORUHVUtils::KORUHVLocaleEncodingName().constData(),
                           QStringConverter::Flag::Default);
    if (!encoder.isValid())
        encoder = QStringEncoder(QStringConverter::Utf8);
    return encoder.encode(text);
}

QString decodeText(const QByteArray &bytes)
{
    QStringDecoder decoder(KORUHVUtils::KORUHVLocaleEncodingName().constData(),
                           QStringConverter::Flag::Default);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringConverter::Utf8);
    QString text = decoder.decode(bytes);
    if (text.isNull())
        text = QString(0, QChar()); // an empty file is an empty, not a null, script
    return text;
}

} // namespace

QString KORUHVUtils::KORUHVScriptFilePath(QString path)
{
    const QString suffix = QStringLiteral(".%1").arg(QStringLiteral("kas"));
    if (!path.endsWith(suffix, Qt::CaseInsensitive))
        path += suffix;
    return path;
}

bool KORUHVUtils::KORUHVSaveScript(QString path, QString text)
{
    // Written aside and renamed over the old file only when complete, so a
    // failed save leaves the previous script as it was.
    QSaveFile file(KORUHVScriptFilePath(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QByteArray bytes = encodeText(text);
    // commit() does not look at the last flush of buffered data, so a write
    // that stops half way (disk full) is flushed and checked here first.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString KORUHVUtils::KORUHVLoadScript(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    // A script is a few lines; anything this large is not one and is not
    // pulled into memory.
    if (file.size() > MaxScriptFileSize)
        return QString();
    const QByteArray bytes = file.read(MaxScriptFileSize);
    if (file.error() != QFileDevice::NoError)
        return QString();
    return decodeText(bytes);
}
