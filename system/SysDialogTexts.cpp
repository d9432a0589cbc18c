#include "SysDialogTexts.h"
#include "KORUHVWrapper.h"

#include "KORUHVNode.h"

namespace sysdlg {

KORUHVNode *findParameter(KORUHVNode *system, const QString &name, bool lastWins)
{
    if (!system)
        return nullptr;
    KORUHVNode *found = nullptr;
    for (KORUHVNode *p : system->getParameters()) {
        if (!p || p->getNodeName().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        found = p;
        if (!lastWins)
            break;
    }
    return found;
}

QString parameterText(KORUHVNode *system, const QString &name, bool lastWins)
{
    KORUHVNode *p = findParameter(system, name, lastWins);
    return p ? p->getNodeValue().KORUHVGetValue().toString() : QString();
}

unsigned short lowWord(const QVariant &value)
{
    bool ok = false;
    const unsigned v = value.toUInt(&ok);
    if (ok)
        return static_cast<unsigned short>(v & 0xFFFFu);
    /* Negative or wide integers still give their low bits. */
    const qlonglong w = value.toLongLong(&ok);
    return ok ? static_cast<unsigned short>(static_cast<qulonglong>(w) & 0xFFFFu) : 0;
}

QVector<QStringList> parseSessionList(const QString &text)
{
    QVector<QStringList> rows;
    for (const QString &record : text.split(QLatin1Char(';'), Qt::KeepEmptyParts)) {
        if (record.isEmpty())
            continue;
        const QStringList fields = record.split(QLatin1Char(':'), Qt::KeepEmptyParts);
        if (fields.size() > kSessionColumns)
            continue;
        rows.append(fields);
    }
    return rows;
}

QString sessionCellText(int column, const QString &field)
{
    if (column != 3)
        return field;
    QString t = field;
    return t.replace(QLatin1Char('_'), QLatin1Char(':'));
}

QStringList sessionHeaders()
{
    return {QStringLiteral("User"), QStringLiteral("Level"), QStringLiteral("Communication"),
            QStringLiteral("Login Time"), QStringLiteral("Ip Address")};
}

QStringList cpuLoadFields(const QString &text)
{
    if (text.isEmpty())
        return {};
    return text.split(QLatin1Char(':'), Qt::KeepEmptyParts).mid(0, 3);
}

QStringList memStatusFields(const QString &text)
{
    if (text.isEmpty())
        return {};
    QStringList fields = text.split(QLatin1Char(':'), Qt::KeepEmptyParts).mid(0, 4);
    for (QString &f : fields)
        f = f.trimmed();
    return fields;
}

QStringList crateMapHeaders(int systemType)
{
    const QStringList board = {QStringLiteral("Board Model"), QStringLiteral("Board Description"),
                               QStringLiteral("Board Serial Number"), QStringLiteral("Board FW Release")};
    if (systemType == KORUHV_SYSTYPE_P8080)
        return QStringList{QStringLiteral("Crate Nr"), QStringLiteral("Slot Nr")} + board;
    if (systemType == KORUHV_SYSTYPE_W38XX)
        return QStringList{QStringLiteral("Base Address")} + board;
    return QStringList{QStringLiteral("Slot Nr")} + board;
}

QString crateMapTitle(int systemType)
{
    return systemType == KORUHV_SYSTYPE_P8080 ? QStringLiteral("Rack Map") : QStringLiteral("Crate Map");
}

QStringList crateMapRow(int systemType, int index, const CrateMapSlot &slot)
{
    QStringList row;
    if (systemType == KORUHV_SYSTYPE_W38XX) {
        const QStringList parts = slot.initParam.split(QLatin1Char('_'), Qt::KeepEmptyParts);
        const QString base = parts.size() == 3 ? parts.at(2) : slot.initParam;
        row << QStringLiteral("0x%0").arg(base);
    } else if (systemType == KORUHV_SYSTYPE_P8080) {
        row << QString::number(index / 25) << QString::number(index % 25);
    } else {
        row << QString::number(index);
    }
    if (slot.present) {
        row << slot.model << slot.description << QString::number(slot.serial)
            << slot.fwRelMax + QLatin1Char('.') + slot.fwRelMin;
    } else {
        for (int i = 0; i < 4; ++i)
            row << QStringLiteral("...");
    }
    return row;
}

CrateMapSlot crateMapSlotOf(KORUHVNode *slotNode)
{
    CrateMapSlot s;
    if (!slotNode)
        return s;
    s.present = slotNode->getNodeType() != NODE_GROUP;
    s.model = slotNode->getBdModel();
    s.description = slotNode->getBdDescr();
    s.serial = slotNode->getBdSerNr();
    s.fwRelMin = slotNode->getBdFwRelMin();
    s.fwRelMax = slotNode->getBdFwRelMax();
    s.initParam = slotNode->getInitParam();
    return s;
}

ReleaseParts swReleaseParts(const QString &text)
{
    ReleaseParts r;
    if (text.isEmpty())
        return r;
    const QStringList parts = text.split(QLatin1Char('-'), Qt::KeepEmptyParts);
    r.hasFirmware = true;
    r.firmware = parts.at(0);
    if (parts.size() > 1) {
        r.hasFpga = true;
        r.fpga = parts.at(1);
    }
    return r;
}

PowerModuleText powerModuleText(const QString &part)
{
    PowerModuleText t;
    if (part == QLatin1String("-1")) {
        t.state = QStringLiteral("Fail");
        t.keepModel = true;
    } else if (part == QLatin1String("0")) {
        t.state = QStringLiteral("Not Present");
    } else if (part == QLatin1String("1")) {
        t.state = QStringLiteral("Good");
        t.keepModel = true;
    } else {
        t.state = QStringLiteral("Good");
        t.model = part;
    }
    return t;
}

CurrentColour primaryCurrentColour(const QString &current)
{
    bool ok = false;
    const double v = current.toDouble(&ok);
    if (!ok)
        return CurrentColour::Keep;
    return v >= 12.0 ? CurrentColour::Red : CurrentColour::Green;
}

CurrentColour boostCurrentColour(const QString &current, const QString &model)
{
    bool ok = false;
    const double v = current.toDouble(&ok);
    if (!ok || model.isEmpty())
        return CurrentColour::Keep;
    const double limit = model == QLatin1String("J7740") ? 24.0 : 12.0;
    return v < limit ? CurrentColour::Green : CurrentColour::Red;
}

QString currentStyle(CurrentColour colour)
{
    switch (colour) {
    case CurrentColour::Green:
        return QStringLiteral("color: #35a912; font: bold;");
    case CurrentColour::Red:
        return QStringLiteral("color: red; font: bold;");
    case CurrentColour::Keep:
        break;
    }
    return QString();
}

FrontPanInView frontPanInView(unsigned short word)
{
    FrontPanInView v;
    v.vsel = (word & 0x1) ? QStringLiteral("V<sub>1</sub>") : QStringLiteral("V<sub>0</sub>");
    v.isel = (word & 0x2) ? QStringLiteral("I<sub>1</sub>") : QStringLiteral("I<sub>0</sub>");
    v.kill = word & 0x4;
    v.interlock = word & 0x8;
    if (word & 0x10)
        v.enable = QStringLiteral("Remote");
    else if (word & 0x20)
        v.enable = QStringLiteral("Local");
    else
        v.enable = QStringLiteral("Off");
    return v;
}

QVector<BitLamp> frontPanOutLamps()
{
    return {{0, "ovc"}, {1, "unv"}, {2, "ovv"}, {3, "chOn"}, {8, "fanFail"}, {9, "out"}};
}

TechSetter techSetterFor(const QString &name)
{
    static const struct {
        const char *text;
        TechSetter setter;
    } table[] = {{"HvPwSM", TechSetter::HvPwSM},         {"PWCurrent", TechSetter::PWCurrent},
                 {"PWVoltage", TechSetter::PWVoltage},   {"FrontPanOut", TechSetter::FrontPanOut},
                 {"FrontPanIn", TechSetter::FrontPanIn}, {"OutputLevel", TechSetter::OutputLevel}};
    for (const auto &row : table)
        if (name.contains(QLatin1String(row.text)))
            return row.setter;
    return TechSetter::None;
}

SysInfoSetter sysInfoSetterFor(const QString &name)
{
    if (name.contains(QLatin1String("CPULoad")))
        return SysInfoSetter::CpuLoad;
    if (name.contains(QLatin1String("MemoryStatus")))
        return SysInfoSetter::MemStatus;
    if (name.contains(QLatin1String("CmdQueueStatus")))
        return SysInfoSetter::CmdQueue;
    return SysInfoSetter::None;
}

QString rackSerialText(const QVariant &value)
{
    bool ok = false;
    const qulonglong v = value.toULongLong(&ok);
    if (ok)
        return QString::number(static_cast<quint32>(v & 0xFFFFFFFFull));
    const qlonglong s = value.toLongLong(&ok);
    return QString::number(ok ? static_cast<quint32>(static_cast<qulonglong>(s) & 0xFFFFFFFFull) : 0u);
}

QStringList acdcIlimItems()
{
    return {QStringLiteral("1.1"), QStringLiteral("3"), QStringLiteral("5"), QStringLiteral("7")};
}

int acdcIlimIndex(int stored)
{
    return stored >= 0 && stored < acdcIlimItems().size() ? stored : -1;
}

bool acdcIlimWrites(bool hasNode, int storedIndex, int chosenIndex)
{
    return hasNode && chosenIndex >= 0 && chosenIndex != storedIndex;
}

QUrl webStartUrl(const QString &initParam)
{
    const QString trimmed = initParam.trimmed();
    if (trimmed.isEmpty())
        return QUrl();
    QUrl url(QStringLiteral("http://") + trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() || url.hasQuery() ||
        url.hasFragment() || !url.userInfo().isEmpty())
        return QUrl();
    return url;
}

QUrl webLoginUrl(const QUrl &start, const QString &user, const QString &password)
{
    if (!start.isValid())
        return QUrl();
    const QString text = start.toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment) +
                         QStringLiteral("/session_login.cgi?user=") +
                         QString::fromLatin1(QUrl::toPercentEncoding(user)) + QStringLiteral("&pass=") +
                         QString::fromLatin1(QUrl::toPercentEncoding(password));
    return QUrl(text, QUrl::StrictMode);
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    if (!a.isValid() || !b.isValid())
        return false;
    auto defaultPort = [](const QUrl &u) { return u.scheme() == QLatin1String("https") ? 443 : 80; };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

} // namespace sysdlg
