/* The Custom mode of one system's table: which boards, channels and
 * parameters it shows and in which order. Edits stay in the dialog until
 * OK writes them to the nodes. */
#ifndef QCONFIGUREVIEWDIALOG_H
#define QCONFIGUREVIEWDIALOG_H

#include "KORUHVCustomizations.h"

#include <QDialog>
#include <QPointer>
#include <QVector>

class KORUHVNode;
class KORUHVParameterChooser;
class QDialogButtonBox;
class QTabWidget;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

class QConfigureViewDialog : public QDialog, public KORUHVNodeUsingDialog {
    Q_OBJECT
public:
    QConfigureViewDialog(KORUHVNode *system, int index, QWidget *parent,
                         KORUHVCustomizations *controller = nullptr);
    ~QConfigureViewDialog() override;

    bool usesNodesOf(int sysHandle, int slot) const override;
    void dropNodesAndClose() override;

    QTreeWidget *tree() const { return treeSource; }
    QTableWidget *previewTable() const { return preview; }
    QDialogButtonBox *buttons() const { return buttonBox; }
    /* The node a tree item stands for (items keep it directly). */
    static KORUHVNode *nodeOfItem(const QTreeWidgetItem *item);

public Q_SLOTS:
    void changeItemVisibility(QTreeWidgetItem *currentItem);
    void changeVisibilityInPreview();
    void clickedOkButton();

private:
    void initializeChannelsChoice();
    void initializeParametersChoice();
    void moveColumnsWithIndexes();
    void setBoardIndexesAndChannelsVisibility();
    void setParametersVisibility();
    QVector<KORUHVNode *> systems() const;

    QPointer<KORUHVCustomizations> controller;
    KORUHVNode *systemNode;
    int systemIndex;
    QTableWidget *preview = nullptr;
    KORUHVParameterChooser *chooser = nullptr;
    QTabWidget *tabWidget = nullptr;
    QTreeWidget *treeSource = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};

/* Shown state of a choice tree item: enabled flag, check mark and weight. */
void KORUHVSetChoiceItemShown(QTreeWidgetItem *item, bool shown, bool dragEnabled = false);
bool KORUHVChoiceItemShown(const QTreeWidgetItem *item);

#endif
