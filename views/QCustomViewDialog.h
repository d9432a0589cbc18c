/* Channels (across systems), parameters and their order of the custom
 * view. Every row of the selected list carries its channel node, so two
 * systems of one name keep their own channels. */
#ifndef QCUSTOMVIEWDIALOG_H
#define QCUSTOMVIEWDIALOG_H

#include "KORUHVCustomizations.h"

#include <QDialog>
#include <QPointer>
#include <QVector>

class KORUHVNode;
class KORUHVParameterChooser;
class QDialogButtonBox;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

class QCustomViewDialog : public QDialog, public KORUHVNodeUsingDialog {
    Q_OBJECT
public:
    QCustomViewDialog(KORUHVCustomizations *controller, QVector<KORUHVNode *> systems, QWidget *parent);
    ~QCustomViewDialog() override;

    bool usesNodesOf(int sysHandle, int slot) const override;
    void dropNodesAndClose() override;

    QTreeWidget *sourceTree() const { return treeWidget; }
    QTreeWidget *selectedList() const { return listWidget; }
    QTableWidget *previewTable() const { return preview; }
    QDialogButtonBox *buttons() const { return buttonBox; }
    QTabWidget *tabs() const { return tabWidget; }

public Q_SLOTS:
    void changeItemVisibility(QTreeWidgetItem *currentItem);
    void changeVisibilityInPreview();
    void checkAllParametersClicked();
    void clickedOkButton();

private:
    void fillTreeAndListWithChannels();
    void initializeParametersChoice();
    void moveColumnsWithIndexes();
    void addNodeToSelected(QTreeWidgetItem *item);
    void removeNodeFromSelected(QTreeWidgetItem *item);
    int checkAtLeastOneChannel();
    int checkAtLeastOneParameter();
    void enableNodesInCustomView();
    void setVisualIndexToNodes();
    void setVisibilityForParameters();
    void appendRow(QTreeWidgetItem *channelItem);

    QVector<KORUHVNode *> systems;
    QPointer<KORUHVCustomizations> controller;
    QTableWidget *preview = nullptr;
    KORUHVParameterChooser *chooser = nullptr;
    QPushButton *checkAllButton = nullptr;
    QTabWidget *tabWidget = nullptr;
    QTreeWidget *treeWidget = nullptr;
    QTreeWidget *listWidget = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};

#endif
