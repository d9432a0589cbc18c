// Action-script files ("kas"): the script text and nothing else, in UTF-8.
// Files written before in the locale's 8-bit encoding still load.
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

/* UTF-8 holds every character; only a text that is no valid UTF-16 (a lone
 * surrogate) cannot be stored, and is refused rather than altered. */
bool encodeText(const QString &text, QByteArray *bytes)
{
    QStringEncoder encoder(QStringConverter::Utf8);
    *bytes = encoder.encode(text);
    return !encoder.hasError();
}

/* UTF-8 when the bytes are valid UTF-8 (every file this version writes, and
 * any ASCII file). Otherwise the file predates UTF-8 scripts and was written
 * in the locale's 8-bit encoding: read in it, or in Latin-1 when the locale
 * is UTF-8 (a Latin-1 file then still gives its characters, not
 * replacement marks). */
QString decodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        const QByteArray legacy = KORUHVUtils::KORUHVLocaleEncodingName();
        QStringDecoder decoder(legacy == "UTF-8" ? "ISO-8859-1" : legacy.constData());
        if (!decoder.isValid())
            decoder = QStringDecoder(QStringConverter::Latin1);
        text = decoder.decode(bytes);
    }
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

bool KORUHVUtils::KORUHVSaveScript(QString path, QString text, QString *why)
{
    QString ignored;
    QString &reason = why ? *why : ignored;
    reason.clear();
    QByteArray bytes;
    if (!encodeText(text, &bytes)) {
        reason = QStringLiteral("the text holds a character that cannot be stored (a lone surrogate)");
        return false;
    }
    // Written aside and renamed over the old file only when complete, so a
    // failed save leaves the previous script as it was.
    QSaveFile file(KORUHVScriptFilePath(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        reason = file.errorString();
        return false;
    }
    // commit() does not look at the last flush of buffered data, so a write
    // that stops half way (disk full) is flushed and checked here first.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        reason = file.errorString();
        return false;
    }
    return true;
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
