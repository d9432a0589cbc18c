/* Lamps of the system dialogs: labels without text whose picture is
 * swapped. Each lamp also carries its state in the dynamic property
 * "lampState" ("on", "off"), so it can be read back without comparing
 * pictures. The panel's own status lamps are drawn by the panel. */
#ifndef SYSDIALOGLAMPS_H
#define SYSDIALOGLAMPS_H

#include <QString>

class QLabel;

namespace sysdlg {

/* Dialog lamp: the mid-size picture at 12 x 12 pixels. Null is skipped. */
void setDialogLamp(QLabel *lamp, bool on);
/* "on" or "off" as set by setDialogLamp; empty otherwise. */
QString lampStateOf(const QLabel *lamp);

} // namespace sysdlg

#endif
