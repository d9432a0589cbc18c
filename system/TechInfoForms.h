/* The parts both technical-information dialogs (crate mainframe, rack
 * supply) build their forms from: the scrolling tab, the power-module status
 * header, the front-panel tab laid out from a table of lamp captions, the
 * close row, and the NIM/TTL switch with its write. */
#ifndef TECHINFOFORMS_H
#define TECHINFOFORMS_H

#include <QString>
#include <Qt>

#include <span>

class KORUHVNode;
class KORUHVSwitch;
class QDialog;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QVBoxLayout;
class QWidget;

namespace sysdlg {

/* The dialog's tab widget "tabWidget", added to its layout. */
QTabWidget *addTabs(QDialog *d, QVBoxLayout *layout);

/* A group box with an object name. */
QGroupBox *namedGroup(const char *name, const QString &title, QWidget *parent);

/* A page of tabs holding a resizable scroll area; content is the layout
 * inside the area. */
QScrollArea *scrollTab(QTabWidget *tabs, const char *tabName, const char *areaName, const QString &title,
                       QVBoxLayout **content);

/* "Power Modules" with its status row on top ("mainStat"); the grid takes
 * the module groups below it. statusSpan: the columns the status row spans. */
QGroupBox *powerModulesGroup(QWidget *parent, int statusSpan, QLabel **mainStat, QGridLayout **grid);

/* One caption of the front panel and the lamp or value right of it. */
struct FrontPanelCell {
    const char *caption; // rich text
    const char *value;   // object name of the label at (row, col + 1); null: the caption alone
    int row, col;
    Qt::Alignment align = {}; // of the value in its cell
    const char *captionName = "";
};

/* What sets one front-panel tab apart: its lamps and values, where the
 * NIM/TTL switch goes, and whether the input group scrolls with the output
 * group (else it stays below the scroll area). */
struct FrontPanelDesign {
    std::span<const FrontPanelCell> outputs; // "Front Panel Output"
    std::span<const FrontPanelCell> inputs;  // "Front Panel Input"
    int levelRow;                            // the switch's row, column 1 of the input grid
    bool inputScrolls;
};

/* Adds the "Front Panel" tab; returns the row that takes the NIM/TTL
 * switch. A caption in the first column is at least 100 pixels wide, as is
 * every output caption. */
QHBoxLayout *addFrontPanelTab(QTabWidget *tabs, const FrontPanelDesign &design);

/* The row under the tabs with the default "Close" button, which closes d. */
QPushButton *addCloseRow(QDialog *d, QVBoxLayout *layout);

/* The NIM/TTL switch in its row, showing the node's level (TTL when the low
 * word is not 0); clicks are the caller's to connect. */
KORUHVSwitch *addLevelSwitch(QHBoxLayout *row, KORUHVNode *node);
/* Writes the switch's state to the node; a refused write shows the node's
 * value again, not the click. Nothing without a node. */
void writeLevel(KORUHVNode *node, KORUHVSwitch *sw);

/* The "FrontPanOut" word on the output lamps of a dialog. */
void showFrontPanOut(QWidget *dialog, ushort bits);

} // namespace sysdlg

#endif
