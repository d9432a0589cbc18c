#include "KORUHVLogFormat.h"
#include "KORUHVUtils.h"
#include "KORUHVWrapper.h"

#include <QStringConverter>
#include <QStringEncoder>
#include <QStringList>

namespace korulog {

const char *const droppedRecordsName = "DroppedLogRecords";

QString timestampText(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"));
}

QString valueText(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Float:
        return QString::number(double(value.toFloat()), 'g', 6);
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 6);
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        return QString::number(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        return QString::number(value.toULongLong());
    default:
        return value.toString();
    }
}

void appendLine(QString &out, const QString &ts, const QString &sys, int board, int channel,
                const QString &parameter, const QVariant &value)
{
    out += QLatin1Char('[') + ts + QStringLiteral("]: [") + sys + QLatin1Char(']');
    if (channel >= 0) {
        out += QStringLiteral(" bd [") + QString::number(board) + QStringLiteral("] ch [") +
               QString::number(channel) + QStringLiteral("] par [") + parameter + QStringLiteral("] val [") +
               valueText(value) + QStringLiteral("]; \n");
    } else if (board >= 0) {
        out += QStringLiteral(" bd [") + QString::number(board) + QStringLiteral("] par [") + parameter +
               QStringLiteral("] val [") + valueText(value) + QStringLiteral("]; \n");
    } else if (!parameter.isEmpty()) {
        out += QStringLiteral(" par [") + parameter + QStringLiteral("] val [") + valueText(value) +
               QStringLiteral("]; \n");
    } else {
        out += QStringLiteral(" live inserted/removed board; \n");
    }
}

QString droppedLine(const QString &timestamp, const QString &sysName, qint64 count)
{
    QString out;
    appendLine(out, timestamp, sysName, -1, -1, QString::fromLatin1(droppedRecordsName), QVariant(count));
    return out;
}

QByteArray encodeForLog(const QString &text)
{
    QStringEncoder encoder(KORUHVUtils::KORUHVLocaleEncodingName().constData());
    if (!encoder.isValid())
        encoder = QStringEncoder(QStringConverter::Utf8);
    return encoder.encode(text);
}

QString defaultLogFolder(const QString &home)
{
    QStringList parts = home.split(QLatin1Char('/'));
    const int at = int(parts.indexOf(QStringLiteral("snap")));
    if (at < 0)
        return home;
    parts = parts.mid(0, at);
    QString folder = parts.join(QLatin1Char('/'));
    return folder.isEmpty() ? QStringLiteral("/") : folder;
}

QString defaultLogFileName(int sysType, const QString &sysName)
{
    if (sysType == KORUHV_SYSTYPE_TRIXHV) {
        QString name = sysName;
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        return QStringLiteral("VUDIZERUDar_") + name + QStringLiteral(".log");
    }
    return QStringLiteral("RORERAVA2020.log");
}

QString logFilePath(const QString &chosen, const QString &home, int sysType, const QString &sysName)
{
    if (!chosen.isEmpty())
        return chosen;
    QString folder = defaultLogFolder(home);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + defaultLogFileName(sysType, sysName);
}

} // namespace korulog
