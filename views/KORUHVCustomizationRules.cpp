#include "KORUHVCustomizationRules.h"
#include "KORUHVWrapper.h"

#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVUtils.h"

#include <QDateTime>

#include <cstdint>
#include <utility>

namespace KORUHVCustomizationRules {

namespace {

bool property(KORUHVNode *node, const QString &name, QVariant *value)
{
    for (KORUHVNodeProperty *p : node->getProperties()) {
        if (p && p->getPropName() == name) {
            *value = p->getPropVal().KORUHVGetValue();
            return true;
        }
    }
    return false;
}

constexpr double OpenLimit = 2147483647.0;

/* The member's "Minval" and "Maxval"; a side without one stays open. */
void limitsOf(KORUHVNode *node, double *lo, double *hi)
{
    *lo = -OpenLimit;
    *hi = OpenLimit;
    QVariant limit;
    bool ok = false;
    if (property(node, QStringLiteral("Minval"), &limit)) {
        const double min = limit.toDouble(&ok);
        if (ok)
            *lo = min;
    }
    if (property(node, QStringLiteral("Maxval"), &limit)) {
        const double max = limit.toDouble(&ok);
        if (ok)
            *hi = max;
    }
}

bool isNumber(KORUHVNode *node)
{
    switch (node->getDataType()) {
    case DATA_INT32:
    case DATA_INT16:
        return node->getParWrapperType() != WRAPPER_TYPE_BINARY;
    case DATA_UINT32:
    case DATA_UINT16:
    case DATA_FLOAT:
        return true;
    default:
        return false;
    }
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

bool refuse(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

/* A register is a set of bits, written as the table cell writes it: its
 * editor shows hexadecimal digits, so text is read in base 16 (a decimal
 * reading turns "00000100" into 100); a number is taken as the word itself.
 * "Minval"/"Maxval" do not bound a bit pattern. */
bool registerWord(const QVariant &shown, QVariant *out)
{
    bool ok = false;
    int word = 0;
    if (shown.typeId() == QMetaType::QString) {
        word = KORUHVUtils::KORUHVConvertFromHexStringToBinary(shown.toString(), &ok);
    } else {
        const qlonglong v = shown.toLongLong(&ok);
        ok = ok && v >= INT32_MIN && v <= qlonglong(UINT32_MAX);
        word = static_cast<int>(static_cast<uint32_t>(v));
    }
    if (!ok)
        return false;
    *out = QVariant(word);
    return true;
}

} // namespace

bool valueForMember(KORUHVNode *member, const QVariant &shown, QVariant *out, QString *why)
{
    if (!member || !out)
        return refuse(why, QStringLiteral("no such member"));
    bool ok = false;
    switch (member->getDataType()) {
    case DATA_ONOFF: {
        if (shown.typeId() == QMetaType::Bool) {
            *out = shown;
            return true;
        }
        const bool on = KORUHVUtils::KORUHVConvertPropertyBoolFromString(member, shown.toString(), &ok);
        if (!ok)
            return refuse(why, QStringLiteral("has no state %1").arg(quoted(shown.toString())));
        *out = QVariant(on);
        return true;
    }
    case DATA_ENUM: {
        const int v = KORUHVUtils::KORUHVConvertPropertyEnumFromString(member, shown.toString(), &ok);
        if (!ok)
            return refuse(why, QStringLiteral("has no choice %1").arg(quoted(shown.toString())));
        *out = QVariant(v);
        return true;
    }
    case DATA_STRING:
        *out = shown;
        return true;
    case DATA_INT32:
    case DATA_INT16:
        if (member->getParWrapperType() == WRAPPER_TYPE_BINARY) {
            if (!registerWord(shown, out))
                return refuse(
                    why, QStringLiteral("%1 is no 32-bit hexadecimal word").arg(quoted(shown.toString())));
            return true;
        }
        [[fallthrough]];
    case DATA_UINT32:
    case DATA_UINT16:
    case DATA_FLOAT: {
        const double v = shown.toDouble(&ok);
        if (!ok)
            return refuse(why, QStringLiteral("%1 is not a number").arg(quoted(shown.toString())));
        double lo, hi;
        limitsOf(member, &lo, &hi);
        if (v < lo || v > hi)
            return refuse(
                why,
                QStringLiteral("outside its limits %1 to %2").arg(QString::number(lo), QString::number(hi)));
        *out = shown;
        return true;
    }
    }
    return refuse(why, QStringLiteral("its type is not written here"));
}

bool widestLimits(const QVector<KORUHVNode *> &members, double *lo, double *hi)
{
    bool any = false;
    for (KORUHVNode *m : members) {
        if (!m || m->getNodeType() == NODE_CHANNEL || !isNumber(m))
            continue;
        double mLo, mHi;
        limitsOf(m, &mLo, &mHi);
        *lo = any ? qMin(*lo, mLo) : mLo;
        *hi = any ? qMax(*hi, mHi) : mHi;
        any = true;
    }
    return any;
}

void markNotWritten(KORUHVNode *member)
{
    if (!member)
        return;
    const KORUHVNodeValue old = member->getNodeValue();
    member->setNodeValue(
        KORUHVNodeValue(old.KORUHVGetValue(), QUALITY_WRITE_FAILED, QDateTime::currentDateTime()));
}

QString nextDefaultGroupName(const QStringList &taken)
{
    for (int n = 0;; ++n) {
        const QString name = QStringLiteral("Group %0").arg(n);
        if (!taken.contains(name))
            return name;
    }
}

static bool matches(KORUHVNode *node, int sysHandle, int slot)
{
    return node && node->getSysHandle() == sysHandle &&
           (slot < 0 || node->getBdSlotNr() == static_cast<unsigned short>(slot));
}

void purgeGroups(QVector<Group> &groups, int sysHandle, int slot, QVector<int> *removed)
{
    for (int g = groups.size() - 1; g >= 0; --g) {
        Group &group = groups[g];
        for (int i = group.size() - 1; i >= 0; --i) {
            if (matches(group[i], sysHandle, slot))
                group.remove(i);
        }
        if (group.isEmpty()) {
            groups.remove(g);
            if (removed)
                removed->append(g);
        }
    }
}

bool touches(const QVector<KORUHVNode *> &nodes, int sysHandle, int slot)
{
    for (KORUHVNode *n : nodes) {
        if (matches(n, sysHandle, slot))
            return true;
    }
    return false;
}

bool isOfferedConnection(int psType, int connType)
{
    static const QVector<std::pair<int, QVector<int>>> offered = {
        {2, {0}},       {3, {0}},     {5, {3, 4, 6, 0, 7}}, {6, {0, 5}},
        {9, {3, 4, 7}}, {11, {0, 5}}, {13, {0, 5}},         {16, {0}},
    };
    for (const auto &entry : offered) {
        if (entry.first == psType)
            return entry.second.contains(connType);
    }
    return false;
}

LoadRow loadRowFromHash(const QMultiHash<QString, QVariant> &hash)
{
    LoadRow row;
    row.name = hash.value(QStringLiteral("name")).toString();
    row.initParam = hash.value(QStringLiteral("initParam")).toString();
    bool psOk = false;
    bool connOk = false;
    row.psType = hash.value(QStringLiteral("psType")).toInt(&psOk);
    row.connType = hash.value(QStringLiteral("connType")).toInt(&connOk);
    row.isCustomView = hash.value(QStringLiteral("isCustomView")).toInt() != 0;
    if (hash.isEmpty()) {
        row.usable = false;
    } else if (row.isCustomView) {
        row.usable = true;
    } else {
        row.usable = psOk && connOk && !row.initParam.isEmpty() &&
                     row.initParam.size() <= MaxInitParamLength &&
                     isOfferedConnection(row.psType, row.connType);
    }
    return row;
}

QString psTypeText(int psType)
{
    switch (psType) {
    case 2:
    case 3:
        return QStringLiteral("HX4400 / HX5500");
    case 5:
        return QStringLiteral("VME HV");
    case 6:
        return QStringLiteral("NIM / DESKTOP HV");
    case 9:
        return QStringLiteral("BQ71XX HV");
    case 11:
        return QStringLiteral("BQ71XXE HV");
    case 16:
        return QStringLiteral("P8080");
    default:
        return QString();
    }
}

QString connTypeText(int connType)
{
    switch (connType) {
    case 0:
        return QStringLiteral("TCP/IP");
    case 3:
        return QStringLiteral("USB");
    case 4:
        return QStringLiteral("PCI OPTICAL LINK");
    case 5:
        return QStringLiteral("VCP USB");
    default:
        return QString();
    }
}

bool needsLogin(int psType)
{
    return psType == KORUHV_SYSTYPE_HX4400 || psType == KORUHV_SYSTYPE_HX5500 ||
           psType == KORUHV_SYSTYPE_P8080;
}

int childPosition(KORUHVNode *parent, KORUHVNode *child)
{
    if (!parent || !child)
        return -1;
    return parent->getChildren().indexOf(child);
}

QString customViewBoardLabel(KORUHVNode *board)
{
    const QString name = board->getNodeName();
    if (board->getSystemType() != KORUHV_SYSTYPE_P8080 || name.size() <= 6)
        return name;
    const int n = name.mid(5, 2).toInt();
    return QStringLiteral("Crate%1.Board%2 [%3]").arg(n / 25).arg(n % 25, 2, 10, QLatin1Char('0')).arg(name);
}

QString boardKeyOfLabel(const QString &label)
{
    const int open = label.indexOf(QLatin1Char('['));
    const int close = open >= 0 ? label.indexOf(QLatin1Char(']'), open) : -1;
    if (open >= 0 && close > open)
        return label.mid(open + 1, close - open - 1);
    return label;
}

} // namespace KORUHVCustomizationRules
