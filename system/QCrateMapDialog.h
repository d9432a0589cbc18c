/* One row per slot of a system, as its node tree last knew it: the board in
 * the slot (model, description, serial number, firmware) or "..." for an
 * empty slot. */
#ifndef QCRATEMAPDIALOG_H
#define QCRATEMAPDIALOG_H

#include <QDialog>

class KORUHVNode;
class QTreeWidget;
class QPushButton;

class QCrateMapDialog : public QDialog {
    Q_OBJECT
public:
    QCrateMapDialog(KORUHVNode *system, QWidget *parent = nullptr);
    ~QCrateMapDialog() override;

    void fillListWidget();

private:
    QTreeWidget *treeWidget = nullptr;
    QPushButton *cancelButton = nullptr;
    KORUHVNode *system = nullptr; /* not owned */
};

#endif
