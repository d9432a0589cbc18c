/* Texts of connection states, board and channel status words, units,
 * exponents and binary words. Status lists are tables walked in order: the
 * first row whose bits are set gives the text (the order is the priority). */
#include "KORUHVUtils.h"
#include "KORUHVWrapper.h"

#include <cstdint>
#include <iterator>

namespace {

struct StatusRow {
    int bit;      /* -1: the closing "else" row */
    int otherBit; /* second bit that must also be set, -1 for none */
    const char *text;
    bool alarm;
};

constexpr StatusRow ELSE(const char *text, bool alarm = false)
{
    return {-1, -1, text, alarm};
}

constexpr StatusRow crateChannelRows[] = {
    {11, -1, "Unplugg", true},
    {10, -1, "Cal-Err", true},
    {1, -1, "Up", false},
    {2, 6, "E-Trp-Dwn", true},
    {2, 9, "I-Trp-Dwn", true},
    {2, 8, "E-Dis-Dwn", true},
    {2, -1, "Down", false},
    {6, -1, "E-Tripped", true},
    {9, -1, "I-Tripped", true},
    {8, -1, "Ext-Dis", true},
    {3, -1, "Ovc", true},
    {4, -1, "Ovv", true},
    {7, -1, "HVMax", true},
    {5, -1, "Unv", true},
    {12, -1, "Unc", true},
    {13, -1, "Ovv Prot.", true},
    {14, -1, "Pwr Fail", true},
    {15, -1, "Temp Err.", true},
    ELSE(""),
};

constexpr StatusRow w38xxChannelRows[] = {
    {13, -1, "Uncalibrated", true}, {12, -1, "Interlock", true},
    {11, -1, "Disabled", true},     {10, -1, "Ovt", true},
    {9, -1, "Ovp", true},           {8, -1, "Trip", true},
    {7, -1, "IMax", true},          {6, -1, "HVMax", true},
    {5, -1, "Unv", true},           {4, -1, "Ovv", true},
    {3, -1, "Ovc", true},           {2, -1, "Down", false},
    {1, -1, "Up", false},           ELSE(""),
};

/* L2290 (6) and BQ71XXE (11) with the channel on (bit 0 set). */
constexpr StatusRow l2290OnRows[] = {
    {7, -1, "Tripped", true}, {3, -1, "Ovc", true},       {6, -1, "MaxV", true},
    {5, -1, "Unv", true},     {4, -1, "Ovv", true},       {1, -1, "Up", false},
    {2, -1, "Down", false},   {13, -1, "Cal-Err", false}, ELSE("On"),
};
constexpr StatusRow bq71xxeOnRows[] = {
    {7, -1, "Tripped", true}, {3, -1, "Ovc", true}, {6, -1, "MaxV", true},  {5, -1, "Unv", true},
    {4, -1, "Ovv", true},     {1, -1, "Up", false}, {2, -1, "Down", false}, ELSE("On"),
};
/* ... with the channel off (bit 0 clear). */
constexpr StatusRow l2290OffRows[] = {
    {12, -1, "Interlock", true}, {10, -1, "Disabled", true},
    {11, -1, "Kill", true},      {7, -1, "Tripped", true},
    {8, -1, "Ovp", true},        {9, -1, "Ovt", true},
    {13, -1, "Cal-Err", false},  ELSE("Off"),
};
constexpr StatusRow bq71xxeOffRows[] = {
    {12, -1, "Interlock", true}, {10, -1, "Disabled", true},
    {11, -1, "Kill", true},      {7, -1, "Tripped", true},
    {8, -1, "MaxPower", true},   {9, -1, "Temp warning", true},
    {13, -1, "Cal-Err", false},  ELSE("Off"),
};

constexpr StatusRow bq71xxChannelRows[] = {
    {11, -1, "Calib. Err", true}, {10, -1, "Ext-Dis", true},
    {1, -1, "Up", false},         {2, 3, "Ovc-Dwn", true},
    {2, -1, "Down", false},       {6, -1, "HVMax", true},
    {9, -1, "Temp Err.", true},   {8, -1, "Temp Warn", true},
    {3, -1, "Ovc", true},         {4, -1, "Ovv", true},
    {7, -1, "IMax", true},        {5, -1, "Unv", true},
    {12, -1, "Resetting", true},  {14, -1, "Pwr-Fail", true},
    {15, -1, "Fan-High", false},  ELSE(""),
};

constexpr StatusRow trixhvChannelRows[] = {
    {13, -1, "Comm. Fail", true},
    {16, -1, "Cal. Err.", true},
    {11, -1, "Interlock", true},
    {10, -1, "Kill", true},
    {12, -1, "Disabled", true},
    {14, -1, "Lock", true},
    {7, -1, "Ovp", true},
    {6, -1, "Tripped", true},
    {9, -1, "Ovt", true},
    {8, -1, "Temp. Warn", false},
    {3, -1, "Ovc", true},
    {15, -1, "MaxV", true},
    {5, -1, "Unv", true},
    {4, -1, "Ovv", true},
    {1, -1, "Up", false},
    {2, -1, "Down", false},
    ELSE(""),
};

constexpr StatusRow crateBoardRows[] = {
    {1, -1, "FW CHKERR", false},
    {0, -1, "PW Fail", false},
    {2, -1, "HvCal Err", false},
    {3, -1, "Temp Err", false},
    {4, -1, "Un Temp", false},
    {5, -1, "Ov Temp", false},
    ELSE(""),
};
constexpr StatusRow l2290BoardRows[] = {
    {6, -1, "HV Clock Fail", false}, {4, -1, "Pw Fail", false},
    {5, -1, "OV Power", false},      {0, -1, "Ch0 Alarm", false},
    {1, -1, "Ch1 Alarm", false},     {2, -1, "Ch2 Alarm", false},
    {3, -1, "Ch3 Alarm", false},     ELSE(""),
};
constexpr StatusRow trixhvBoardRows[] = {
    {3, -1, "Temp. Err.", false},
    {2, -1, "Interlock", false},
    {1, -1, "Cal. Err.", false},
    {0, -1, "Pw Fail", false},
    ELSE("Good"),
};

struct StatusList {
    const StatusRow *rows = nullptr;
    size_t count = 0;
};

template <size_t N> StatusList listOf(const StatusRow (&rows)[N])
{
    return {rows, N};
}

bool bitSet(uint32_t word, int bit)
{
    return bit >= 0 && bit < 32 && ((word >> bit) & 1u) != 0;
}

/* The row that decides, or null when the family has no list. */
const StatusRow *decide(StatusList list, int status)
{
    const uint32_t word = static_cast<uint32_t>(status);
    for (size_t i = 0; i < list.count; ++i) {
        const StatusRow &row = list.rows[i];
        if (row.bit < 0)
            return &row;
        if (bitSet(word, row.bit) && (row.otherBit < 0 || bitSet(word, row.otherBit)))
            return &row;
    }
    return nullptr;
}

StatusList channelList(int systemType, int status)
{
    const bool on = (static_cast<uint32_t>(status) & 1u) != 0;
    switch (systemType) {
    case KORUHV_SYSTYPE_HX4400:
    case KORUHV_SYSTYPE_HX5500:
    case KORUHV_SYSTYPE_P8080:
        return listOf(crateChannelRows);
    case KORUHV_SYSTYPE_W38XX:
        return listOf(w38xxChannelRows);
    case KORUHV_SYSTYPE_L2290:
        return on ? listOf(l2290OnRows) : listOf(l2290OffRows);
    case KORUHV_SYSTYPE_BQ71XXE:
        return on ? listOf(bq71xxeOnRows) : listOf(bq71xxeOffRows);
    case KORUHV_SYSTYPE_BQ71XX:
        return listOf(bq71xxChannelRows);
    case KORUHV_SYSTYPE_TRIXHV:
        return listOf(trixhvChannelRows);
    default:
        return {};
    }
}

} // namespace

QString KORUHVUtils::KORUHVSelectConnectionStatus(connStatus status)
{
    switch (status) {
    case CONN_PENDING:
        return QStringLiteral("Connection Pending");
    case CONN_OK:
        return QStringLiteral("Connection Ok");
    case CONN_KO:
        return QStringLiteral("Connection Ko");
    default:
        return QString();
    }
}

QString KORUHVUtils::KORUHVConvertBoardStatus(int systemType, int status)
{
    StatusList list;
    switch (systemType) {
    case KORUHV_SYSTYPE_HX4400:
    case KORUHV_SYSTYPE_HX5500:
    case KORUHV_SYSTYPE_P8080:
        list = listOf(crateBoardRows);
        break;
    case KORUHV_SYSTYPE_L2290:
        list = listOf(l2290BoardRows);
        break;
    case KORUHV_SYSTYPE_BQ71XXE:
        return status != 0 ? QStringLiteral("Alarmed") : QString();
    case KORUHV_SYSTYPE_TRIXHV:
        list = listOf(trixhvBoardRows);
        break;
    default:
        return QString();
    }
    const StatusRow *row = decide(list, status);
    return row ? QString::fromLatin1(row->text) : QString();
}

QString KORUHVUtils::KORUHVConvertChannelStatus(int systemType, int status)
{
    const StatusRow *row = decide(channelList(systemType, status), status);
    return row ? QString::fromLatin1(row->text) : QString();
}

bool KORUHVUtils::KORUHVCheckChStatusValue(int systemType, int status)
{
    const StatusRow *row = decide(channelList(systemType, status), status);
    return !(row && row->alarm);
}

QString KORUHVUtils::KORUHVConvertPropertyUnitShortForm(unsigned short unit)
{
    switch (unit) {
    case 1:
        return QStringLiteral("A");
    case 2:
        return QStringLiteral("V");
    case 3:
        return QStringLiteral("W");
    case 4:
        return QString(QChar(0x00B0)) + QLatin1Char('C');
    case 5:
        return QStringLiteral("Hz");
    case 6:
        return QStringLiteral("Bar");
    case 7:
        return QStringLiteral("Vps");
    case 8:
        return QStringLiteral("sec");
    case 9:
        return QStringLiteral("Rpm");
    case 10:
        return QStringLiteral("Count");
    default:
        return QString();
    }
}

QString KORUHVUtils::KORUHVConvertPropertyUnit(unsigned short unit)
{
    static const char *const names[] = {"None", "Ampere", "Volt",   "Watt", "Celsius", "Hertz",
                                        "Bar",  "Vps",    "Second", "Rpm",  "Count"};
    return QString::fromLatin1(unit < std::size(names) ? names[unit] : "None");
}

QString KORUHVUtils::KORUHVConvertPropertyExpShortForm(short exp)
{
    switch (exp) {
    case -9:
        return QStringLiteral("n");
    case -6:
        return QStringLiteral("u");
    case -3:
        return QStringLiteral("m");
    case 3:
        return QStringLiteral("K");
    case 6:
        return QStringLiteral("M");
    default:
        return QStringLiteral(" ");
    }
}

QString KORUHVUtils::KORUHVConvertPropertyExp(short exp)
{
    switch (exp) {
    case -9:
        return QStringLiteral("nano");
    case -6:
        return QStringLiteral("micro");
    case -3:
        return QStringLiteral("milli");
    case 3:
        return QStringLiteral("Kilo");
    case 6:
        return QStringLiteral("Mega");
    default:
        return QString(); /* no prefix */
    }
}

QString KORUHVUtils::KORUHVConvertFromBinaryToHexString(int word)
{
    /* The word is 32 bits wide: show its bits, never a sign-extended 64-bit
     * form (which would not read back). */
    return QStringLiteral("%1").arg(static_cast<uint32_t>(word), 8, 16, QLatin1Char('0')).toUpper();
}

int KORUHVUtils::KORUHVConvertFromHexStringToBinary(QString text, bool *ok)
{
    if (ok)
        *ok = false;
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    if (digits.isEmpty() || digits.size() > 8)
        return 0;
    for (QChar c : digits) {
        const char16_t u = c.unicode();
        const bool hex = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        if (!hex)
            return 0;
    }
    bool parsed = false;
    const uint value = digits.toUInt(&parsed, 16);
    if (!parsed)
        return 0;
    if (ok)
        *ok = true;
    return static_cast<int>(static_cast<uint32_t>(value));
}
