// Which system panel part a system property's value goes to.
#include "KORUHVPanelUpdaters.h"

#include <gtest/gtest.h>

namespace {

TEST(PanelUpdaters, FirstMatchingNameTextDecides)
{
    using U = KORUHVPanelUpdater;
    const struct {
        const char *name;
        U updater;
    } cases[] = {
        {"HVFanSpeed", U::FanSpeed},     {"HVFanSpeed2", U::FanSpeed}, {"FanStat", U::FanStat},
        {"HVFanStat", U::FanStat},       {"HvPwSM", U::TechInfo},      {"PWCurrent", U::TechInfo},
        {"PWVoltage", U::TechInfo},      {"FrontPanIn", U::TechInfo},  {"FrontPanOut", U::TechInfo},
        {"OutputLevel", U::TechInfo},    {"ACDCStatus", U::TechInfo},  {"FrontPanXY", U::TechInfo},
        {"CPULoad", U::SysInfo},         {"MemoryStatus", U::SysInfo}, {"CmdQueueStatus", U::SysInfo},
        {"Sessions", U::ValueField},     {"cpuload", U::ValueField},   {"", U::ValueField},
        {"SymbolicName", U::ValueField},
    };
    for (const auto &c : cases)
        EXPECT_EQ(KORUHVPanelUpdaterFor(QString::fromLatin1(c.name)), c.updater) << c.name;
}

} // namespace
