/* The form parts both view-choice dialogs (QConfigureViewDialog,
 * QCustomViewDialog) are built from: the dialog frame with its two pages
 * and OK/Cancel box, the look of the channel choice tree, and the head and
 * foot of the parameter page. */
#ifndef VIEWCHOICEFORMS_H
#define VIEWCHOICEFORMS_H

#include <QSize>

class QBoxLayout;
class QDialog;
class QDialogButtonBox;
class QTableWidget;
class QTabWidget;
class QTreeWidget;
class QVBoxLayout;
class QWidget;

namespace viewchoice {

struct ChoiceFrame {
    QTabWidget *tabs;
    QWidget *channelsTab;
    QBoxLayout *channelsLayout; // vertical or horizontal, as asked
    QWidget *paramsTab;
    QDialogButtonBox *buttons;
};

/* Names the dialog, makes it application-modal and deleted on close, sizes
 * it and gives it the table-sort icon; then the tab widget "tabWidget" with
 * the pages "channelsTab" ("Channels") and "paramsTab" ("Parameters") on a
 * light background, and the OK/Cancel box "buttonBox" below. Cancel is the
 * caller's to connect. */
ChoiceFrame buildChoiceFrame(QDialog *dialog, const char *name, QSize size, bool channelsSideBySide);

/* The channel choice tree "chanSel": green for shown items, grey for the
 * others. */
void styleChoiceTree(QTreeWidget *tree);

/* The parameter page's layout, headed by its instruction. */
QVBoxLayout *parameterPageHead(QWidget *page);
/* The ordering preview under its instruction, at the foot of the page; the
 * preview is as high as its header plus extraHeight. */
void parameterPageFoot(QVBoxLayout *layout, QWidget *page, QTableWidget *preview, int extraHeight);

} // namespace viewchoice

#endif
