#include "KORUHVPanelUpdaters.h"

#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "QSystemInformations.h"

namespace {

struct UpdaterRow {
    const char *text;
    KORUHVPanelUpdater updater;
};

/* In order: "FanStat" must not take "HVFanSpeed", "FrontPan" comes after its
 * longer forms. */
constexpr UpdaterRow updaterRows[] = {
    {"HVFanSpeed", KORUHVPanelUpdater::FanSpeed},    {"FanStat", KORUHVPanelUpdater::FanStat},
    {"HvPwSM", KORUHVPanelUpdater::TechInfo},        {"PWCurrent", KORUHVPanelUpdater::TechInfo},
    {"PWVoltage", KORUHVPanelUpdater::TechInfo},     {"FrontPanIn", KORUHVPanelUpdater::TechInfo},
    {"FrontPanOut", KORUHVPanelUpdater::TechInfo},   {"OutputLevel", KORUHVPanelUpdater::TechInfo},
    {"ACDCStatus", KORUHVPanelUpdater::TechInfo},    {"FrontPan", KORUHVPanelUpdater::TechInfo},
    {"CPULoad", KORUHVPanelUpdater::SysInfo},        {"MemoryStatus", KORUHVPanelUpdater::SysInfo},
    {"CmdQueueStatus", KORUHVPanelUpdater::SysInfo},
};

} // namespace

KORUHVPanelUpdater KORUHVPanelUpdaterFor(const QString &propertyName)
{
    for (const UpdaterRow &row : updaterRows)
        if (propertyName.contains(QLatin1String(row.text)))
            return row.updater;
    return KORUHVPanelUpdater::ValueField;
}

void KORUHVUpdateSystemPanel(QSystemInformations *panel, KORUHVNode *property)
{
    if (!panel || !property)
        return;
    const QString name = property->getNodeName();
    switch (KORUHVPanelUpdaterFor(name)) {
    case KORUHVPanelUpdater::FanSpeed:
        panel->updateFanSpeedSlider(property);
        return;
    case KORUHVPanelUpdater::FanStat:
        panel->updateReadFanStatValues(property);
        return;
    case KORUHVPanelUpdater::TechInfo:
        panel->updateTechInfo(property);
        return;
    case KORUHVPanelUpdater::SysInfo:
        panel->updateSysInfo(property);
        return;
    case KORUHVPanelUpdater::ValueField:
        if (auto *item = panel->findChild<KORUHVWidgetItem *>(name))
            if (!item->hasFocus())
                item->setDataInValueField(property->getNodeValue().KORUHVGetValue());
        return;
    }
}
