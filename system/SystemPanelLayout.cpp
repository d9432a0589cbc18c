#include "SystemPanelLayout.h"
#include "KORUHVWrapper.h"

namespace syspanel {

namespace {

constexpr const char *DockPicture = ":/Resources/Elementi/sistema-dock.png";
constexpr const char *DockGreyPicture = ":/Resources/Elementi/sistema-dock-grey.png";
constexpr const char *VmePicture = ":/Resources/Elementi/sistema-vme.png";
constexpr const char *VmeGreyPicture = ":/Resources/Elementi/sistema-vme-grey.png";
constexpr const char *RackPicture = ":/Resources/Elementi/p8080-dock.png";
constexpr const char *CustomPicture = ":/Resources/Elementi/cs-verde.png";
constexpr const char *CustomGreyPicture = ":/Resources/Elementi/cs-1.png";

using C = Cmd;
using A = Action;

const std::vector<ButtonPlace> CrateRow1 = {{C::Sessions, A::Session},
                                            {C::CrateMap, A::CrateMap},
                                            {C::TechInfo, A::TechInfo},
                                            {C::SysInfo, A::SysInfo}};
const std::vector<ButtonPlace> CrateRow2 = {{C::ResetFlagCfg, A::ResetFlags},
                                            {C::GenSignCfg, A::GenSignCfg},
                                            {C::Kill, A::Kill},
                                            {C::ClearAlarm, A::ClearAlarm}};
const std::vector<Cmd> CrateRestyled = {C::Sessions, C::Kill,       C::ClearAlarm, C::ResetFlagCfg,
                                        C::CrateMap, C::GenSignCfg, C::TechInfo,   C::SysInfo};

const TypeLayout Crate2 = {
    2,       Frame::MainWidgets, DockPicture, DockGreyPicture, CrateRow1, CrateRow2, {}, {1, 2}, 0,
    {0, 10}, CrateRestyled};
const TypeLayout Crate3 = {
    3,       Frame::MainWidgets, DockPicture, DockGreyPicture, CrateRow1, CrateRow2, {}, {1, 2}, 0,
    {0, 10}, CrateRestyled};
const TypeLayout Vme = {5,
                        Frame::LogRow,
                        VmePicture,
                        VmeGreyPicture,
                        {},
                        {{C::CrateMap, A::CrateMap}, {C::Kill, A::Kill}},
                        {},
                        {2},
                        20,
                        {10},
                        {C::CrateMap, C::Kill}};
const TypeLayout Nim = {6,
                        Frame::LogRow,
                        DockPicture,
                        DockGreyPicture,
                        {},
                        {{C::Kill, A::Kill}, {C::ClearAlarm, A::ClearAlarm}},
                        {},
                        {2},
                        20,
                        {10},
                        {C::Kill, C::ClearAlarm}};
const TypeLayout Amplifier = {8, Frame::None, DockPicture, DockGreyPicture, {}, {}, {}, {}, 0, {}, {}};
const TypeLayout Desktop9 = {9, Frame::LogRow, DockPicture, DockGreyPicture, {}, {}, {}, {}, 0, {}, {}};
const TypeLayout Desktop11 = {11,
                              Frame::LogRow,
                              DockPicture,
                              DockGreyPicture,
                              {},
                              {{C::Kill, A::TurnOffAll}, {C::ClearAlarm, A::ClearAlarm}},
                              {},
                              {2},
                              20,
                              {10},
                              {C::Kill, C::ClearAlarm}};
const TypeLayout Desktop13 = {13,
                              Frame::LogRow,
                              DockPicture,
                              DockGreyPicture,
                              {},
                              {{C::Kill, A::TurnOffAll}, {C::ClearAlarm, A::ClearAlarm}},
                              {},
                              {2},
                              20,
                              {10},
                              {C::Kill, C::ClearAlarm}};
const TypeLayout Rack = {16,
                         Frame::LogRow,
                         RackPicture,
                         RackPicture,
                         {{C::Sessions, A::Session},
                          {C::CrateMap, A::CrateMap},
                          {C::TechInfo, A::TechInfoRack},
                          {C::CpuInfo, A::SysInfo}},
                         {{C::ClearAlarm, A::ClearAlarm},
                          {C::Kill, A::Kill},
                          {C::GlobalOn, A::GlobalOn},
                          {C::GlobalOff, A::GlobalOff}},
                         {{C::RecoveryFlag, A::RecoveryHV},
                          {C::ResetFlagCfg, A::ResetHV},
                          {C::Pw48, A::Pw48},
                          {C::SysInfo, A::SysInfoRack}},
                         {1, 3, 2},
                         0,
                         {0, 10, 10},
                         {C::Sessions, C::Kill, C::ClearAlarm, C::TechInfo, C::CrateMap, C::GlobalOn,
                          C::GlobalOff, C::CpuInfo, C::SysInfo, C::Pw48, C::RecoveryFlag, C::ResetFlagCfg}};
const TypeLayout CustomView = {-1, Frame::None, CustomPicture, CustomGreyPicture, {}, {}, {}, {}, 0, {}, {}};
const TypeLayout Other = {-2, Frame::LogRow, "", "", {}, {}, {}, {}, 0, {}, {}};

const TypeLayout *const Layouts[] = {&Crate2,    &Crate3,    &Vme,  &Nim,        &Amplifier, &Desktop9,
                                     &Desktop11, &Desktop13, &Rack, &CustomView, &Other};

/* The address text up to the first '_' (empty parts kept). */
QString firstPart(const QString &address)
{
    return address.split(QLatin1Char('_'), Qt::KeepEmptyParts).value(0);
}

QString vmeLinkText(int linkType, const QString &address)
{
    if (address.isEmpty())
        return QString();
    if (linkType == 3)
        return QStringLiteral("USB %0").arg(address.left(1));
    if (linkType == 4 && address.size() >= 3)
        return QStringLiteral("OPTICAL LINK %0%1%2").arg(address.at(0)).arg(address.at(1)).arg(address.at(2));
    return QString();
}

int toIntOrZero(const QString &field)
{
    bool ok = false;
    const int v = field.trimmed().toInt(&ok);
    return ok ? v : 0;
}

} // namespace

const TypeLayout &layoutFor(int systemType)
{
    for (const TypeLayout *l : Layouts)
        if (l->type == systemType)
            return *l;
    return Other;
}

QString buttonText(Cmd button, int systemType)
{
    switch (button) {
    case Cmd::Sessions:
        return QStringLiteral("SESSIONS");
    case Cmd::Kill:
        return (systemType == KORUHV_SYSTYPE_BQ71XXE || systemType == KORUHV_SYSTYPE_TRIXHV)
                   ? QStringLiteral("TURN OFF\nALL")
                   : QStringLiteral("KILL");
    case Cmd::ClearAlarm:
        return QStringLiteral("CLEAR\nALARM");
    case Cmd::ResetFlagCfg:
        return QStringLiteral("RESET\nFLAG CFG");
    case Cmd::CrateMap:
        return systemType == KORUHV_SYSTYPE_P8080 ? QStringLiteral("RACK\nMAP")
                                                  : QStringLiteral("CRATE\nMAP");
    case Cmd::GenSignCfg:
        return QStringLiteral("GEN SIGN\nCFG");
    case Cmd::TechInfo:
        return QStringLiteral("TECH\nINFO");
    case Cmd::SysInfo:
        return QStringLiteral("SYS\nINFO");
    case Cmd::CpuInfo:
        return QStringLiteral("CPU\nINFO");
    case Cmd::GlobalOn:
        return QStringLiteral("GLOBAL\nON");
    case Cmd::GlobalOff:
        return QStringLiteral("GLOBAL\nOFF");
    case Cmd::RecoveryFlag:
        return QStringLiteral("RECOVERY\nFLAG");
    case Cmd::Pw48:
        return QStringLiteral("48V\nPW");
    }
    return QString();
}

bool buttonHasSmallFont(Cmd button)
{
    return static_cast<int>(button) <= static_cast<int>(Cmd::SysInfo);
}

QString modelText(int systemType, bool hasRoot, int slotCount)
{
    const QString universal = QStringLiteral("\nUniversal Multichannel\nPower Supply System");
    switch (systemType) {
    case KORUHV_SYSTYPE_HX4400:
        return QStringLiteral("HX4400") + ((hasRoot && slotCount == 10) ? QStringLiteral("LC") : QString()) +
               universal;
    case KORUHV_SYSTYPE_HX5500:
        return QStringLiteral("HX5500") + ((hasRoot && slotCount == 4) ? QStringLiteral("LC") : QString()) +
               universal;
    case KORUHV_SYSTYPE_W38XX:
        return QStringLiteral("VME HV Crate\n");
    case KORUHV_SYSTYPE_L2290:
        return QStringLiteral("NIM HV\nPower Supply");
    case KORUHV_SYSTYPE_L317E:
        return QStringLiteral("L317E\nSpectroscopy Amplifier\n");
    case KORUHV_SYSTYPE_BQ71XX:
        return QStringLiteral("BQ71XX Desktop\nHV Power Supply");
    case KORUHV_SYSTYPE_BQ71XXE:
        return QStringLiteral("BQ71XXE Desktop\nHV Power Supply");
    case KORUHV_SYSTYPE_TRIXHV:
        return QStringLiteral("Desktop\nHV Power Supply");
    case KORUHV_SYSTYPE_P8080:
        return QStringLiteral("P8080") + QStringLiteral("\nBranch Controller");
    default:
        return QStringLiteral("Misc");
    }
}

QString connectionText(int systemType, int linkType, const QString &address)
{
    if (address.isEmpty())
        return QString();
    switch (systemType) {
    case KORUHV_SYSTYPE_HX4400:
    case KORUHV_SYSTYPE_HX5500:
    case KORUHV_SYSTYPE_P8080:
        return address;
    case KORUHV_SYSTYPE_W38XX:
    case KORUHV_SYSTYPE_BQ71XX:
        return vmeLinkText(linkType, address);
    case KORUHV_SYSTYPE_L2290:
    case KORUHV_SYSTYPE_BQ71XXE:
    case KORUHV_SYSTYPE_TRIXHV:
        return firstPart(address);
    case KORUHV_SYSTYPE_L317E:
        return (linkType == 5 || linkType == 0) ? firstPart(address) : QString();
    default:
        return QString();
    }
}

const QStringList &hiddenParameterNames()
{
    static const QStringList names = {
        "Sessions",       "IPAddr",    "IPNetMsk",     "RS232Par",     "ModelName",   "ResFlagCfg",
        "GenSignCfg",     "KnetCrNum", "IPGw",         "ResFlag",      "CPULoad",     "MemoryStatus",
        "CmdQueueStatus", "HvPwSM",    "PWCurrent",    "PWVoltage",    "ConnStat",    "SwRelease",
        "HVClkConf",      "HwRelease", "FwRelease",    "SerialNumber", "HighFreq",    "FrontPan",
        "LowFreq",        "RecPeriod", "RstPeriod",    "RstRecFlag",   "ACDCStatus",  "Logic",
        "ACDCPwr",        "ACDCIlim",  "ClkFreq",      "FrontPanOut",  "FrontPanIn",  "GlobalOn",
        "GlobalOff",      "Kill",      "ClearAlarm",   "KeepAlive",    "OutputLevel", "DummyReg",
        "CMDExecMode",    "IPCIDR",    "LowFanEnable", "NrOfSlot"};
    return names;
}

bool isHiddenParameter(const QString &name)
{
    return hiddenParameterNames().contains(name, Qt::CaseInsensitive);
}

QString lampPicture(Lamp lamp)
{
    switch (lamp) {
    case Lamp::On:
        return QStringLiteral(":/Resources/buttons/led_on.png");
    case Lamp::Off:
        return QStringLiteral(":/Resources/buttons/led_off.png");
    case Lamp::Err:
        return QStringLiteral(":/Resources/buttons/led_err.png");
    }
    return QString();
}

namespace {
Lamp onWhenSet(unsigned word, int bit)
{
    return (word >> bit) & 1u ? Lamp::On : Lamp::Off;
}
Lamp errWhenSet(unsigned word, int bit)
{
    return (word >> bit) & 1u ? Lamp::Err : Lamp::On;
}
} // namespace

StatusLamps lampsFromOutputWord(unsigned word)
{
    return {onWhenSet(word, 3), errWhenSet(word, 2), errWhenSet(word, 1), errWhenSet(word, 0),
            errWhenSet(word, 4)};
}

StatusLamps lampsFromFrontPanelWord(unsigned word)
{
    return {onWhenSet(word, 5), errWhenSet(word, 2), errWhenSet(word, 3), errWhenSet(word, 1),
            errWhenSet(word, 0)};
}

bool pw48IsOn(unsigned acdcStatus)
{
    return (acdcStatus & 1u) != 0;
}

Lamp pw48Lamp(unsigned acdcStatus)
{
    return pw48IsOn(acdcStatus) ? Lamp::On : Lamp::Off;
}

QVector<FanPair> fanPairs(const QString &value)
{
    const QStringList fields = value.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    QVector<FanPair> pairs;
    for (int j = 0; 2 * j + 1 < fields.size(); ++j)
        pairs.append({toIntOrZero(fields.at(2 * j)), toIntOrZero(fields.at(2 * j + 1))});
    return pairs;
}

Lamp fanLamp(int status)
{
    return status < 1 ? Lamp::Err : Lamp::On;
}

std::array<bool, 6> flagsOfMask(int mask)
{
    std::array<bool, 6> flags{};
    for (int i = 0; i < 6; ++i) {
        flags[i] = (mask & 1) != 0;
        mask >>= 1;
    }
    return flags;
}

int maskOfFlags(const std::array<bool, 6> &flags)
{
    int mask = 0;
    for (int i = 0; i < 6; ++i)
        if (flags[i])
            mask |= 1 << i;
    return mask;
}

int flagWriteValue(int mask)
{
    return (mask & 0x3F) | 0xFF00;
}

int rstRecFlagValue(bool reset, int buttonIndex)
{
    if (buttonIndex < 0 || buttonIndex > 5)
        return 0;
    return 1 << (reset ? buttonIndex + 8 : buttonIndex);
}

CommandPlan commandPlan(Action action, int systemType)
{
    CommandPlan plan;
    switch (action) {
    case Action::Kill:
        plan.question = QStringLiteral("You are sending kill signal to system %0.");
        if (systemType == KORUHV_SYSTYPE_W38XX || systemType == KORUHV_SYSTYPE_L2290)
            plan.effect = CommandEffect::TurnOffAllChannels;
        else
            plan.command = QStringLiteral("Kill");
        break;
    case Action::TurnOffAll:
        plan.question = QStringLiteral("You are turning off all channels of the system %0.");
        plan.effect = CommandEffect::TurnOffAllChannels;
        break;
    case Action::ClearAlarm:
        plan.question = QStringLiteral("You are sending Clear Alarm signal to system %0.");
        if (systemType == KORUHV_SYSTYPE_L2290)
            plan.effect = CommandEffect::ClearAlarmForNim;
        else
            plan.command =
                systemType == KORUHV_SYSTYPE_TRIXHV ? QStringLiteral("BdClr") : QStringLiteral("ClearAlarm");
        break;
    case Action::GlobalOn:
        plan.question = QStringLiteral("You are sending Global ON signal to system %0.");
        plan.command = QStringLiteral("GlobalOn");
        break;
    case Action::GlobalOff:
        plan.question = QStringLiteral("You are sending Global OFF signal to system %0.");
        plan.command = QStringLiteral("GlobalOff");
        break;
    default:
        break;
    }
    return plan;
}

QString commandFailedText(const QString &command, const QString &systemName, int code, const QString &error)
{
    QString text = QStringLiteral("The command \"%1\" was not carried out by system %2 (code %3).")
                       .arg(command, systemName)
                       .arg(code);
    if (!error.isEmpty())
        text += QStringLiteral("\n%1").arg(error);
    return text;
}

QString channelsNotOffText(const QString &systemName, int refused, const QString &error)
{
    QString text =
        QStringLiteral("%1 channel(s) of system %2 refused to be switched off.").arg(refused).arg(systemName);
    if (!error.isEmpty())
        text += QStringLiteral("\n%1").arg(error);
    return text;
}

} // namespace syspanel
