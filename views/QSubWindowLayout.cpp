#include "QSubWindowLayout.h"

namespace koruviews {

namespace {

bool same(const QString &a, const char *b)
{
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

constexpr int P8080_SYSTEM_TYPE = 16;

} // namespace

int leadingColumnPassCount()
{
    return 10;
}

bool matchesLeadingPass(int pass, const QString &n)
{
    switch (pass) {
    case 0:
        return same(n, "Name");
    case 1:
        return same(n, "I0Set") || same(n, "ISet");
    case 2:
        return same(n, "V0Set") || same(n, "VSet");
    case 3:
        return same(n, "IMon");
    case 4:
        return same(n, "VMon");
    case 5:
        return same(n, "Pw");
    case 6:
        return n.contains(QLatin1String("Status"), Qt::CaseInsensitive);
    case 7:
        return same(n, "RUp");
    case 8:
        return same(n, "RDwn");
    case 9:
        return same(n, "Trip");
    default:
        return false;
    }
}

bool isSetValuePass(int pass)
{
    return pass == 1 || pass == 2;
}

bool isMinimalViewColumn(const QString &header)
{
    static const char *const names[] = {"Name", "I0Set", "ISet", "V0Set", "VSet", "IMon",
                                        "VMon", "RUp",   "RDwn", "Trip",  "Pw",   "Status"};
    for (const char *n : names)
        if (same(header, n))
            return true;
    return false;
}

QString rowLabel(bool customView, int rootSystemType, const QString &systemName, unsigned short slot,
                 const QString &boardName, const QString &channelName)
{
    const QString slotText = boardName.size() > 6 ? boardName.mid(5, 2) : boardName;
    const QString channelText = channelName.size() > 6 ? channelName.mid(4) : channelName;
    if (customView)
        return QLatin1Char('(') + systemName + QLatin1Char(')') + slotText + QLatin1Char('.') + channelText;
    if (rootSystemType == P8080_SYSTEM_TYPE)
        return QStringLiteral("%1.%2").arg(slot / 25).arg(slot % 25, 2, 10, QLatin1Char('0')) +
               QLatin1Char('.') + channelText;
    return slotText + QLatin1Char('.') + channelText;
}

} // namespace koruviews
