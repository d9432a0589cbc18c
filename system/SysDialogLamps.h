/* Lamps of the system dialogs and of the panel's status row: labels without
 * text whose picture is swapped. Each lamp also carries its state in the
 * dynamic property "lampState" ("on", "off", "fault"), so it can be read back
 * without comparing pictures. */
#ifndef SYSDIALOGLAMPS_H
#define SYSDIALOGLAMPS_H

#include "SysDialogTexts.h"

class QLabel;
class KORUHVNode;

namespace sysdlg {

/* Dialog lamp: the mid-size picture at 12 x 12 pixels. Null is skipped. */
void setDialogLamp(QLabel *lamp, bool on);
/* Panel lamp: the full-size picture, unscaled. Null is skipped. */
void setPanelLamp(QLabel *lamp, LampState state);
/* "on", "off" or "fault" as set by the two calls above; empty otherwise. */
QString lampStateOf(const QLabel *lamp);

/* The panel's status lamps; a lamp the panel does not have is null. */
struct PanelTechLamps {
    QLabel *channelOn = nullptr;
    QLabel *ovv = nullptr;
    QLabel *unv = nullptr;
    QLabel *ovc = nullptr;
    QLabel *trip = nullptr;
    QLabel *pw48 = nullptr; /* "48V Pw", rack supply only */
};
void drawStatusLamps(const PanelTechLamps &lamps, const StatusLamps &states);
/* The panel part of a live technical update: "ACDCStatus" drives the 48 V
 * lamp, "FrontPanOut" and "FrontPan" the five status lamps. Null node:
 * nothing. Writes nothing to the system. */
void updatePanelTechLamps(KORUHVNode *node, const PanelTechLamps &lamps);

} // namespace sysdlg

#endif
