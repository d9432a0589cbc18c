/* Which part of the system panel shows a system property's new value.
 *
 * One ordered table of name texts and updaters: the first row whose text the
 * property's name contains (case-sensitive) decides; a name no row matches
 * goes to the panel's value field of that object name. */
#ifndef KORUHVPANELUPDATERS_H
#define KORUHVPANELUPDATERS_H

#include <QString>

class KORUHVNode;
class QSystemInformations;

enum class KORUHVPanelUpdater { FanSpeed, FanStat, TechInfo, SysInfo, ValueField };

KORUHVPanelUpdater KORUHVPanelUpdaterFor(const QString &propertyName);

/* Shows the property's current value on the panel through its updater (a
 * value field that has the keyboard focus keeps what the operator types). */
void KORUHVUpdateSystemPanel(QSystemInformations *panel, KORUHVNode *property);

#endif
