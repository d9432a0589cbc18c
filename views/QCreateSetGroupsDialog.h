/* Create or edit a set group: a name, one writable channel parameter and
 * the channels (over several systems) that share it. */
#ifndef QCREATESETGROUPSDIALOG_H
#define QCREATESETGROUPSDIALOG_H

#include "KORUHVCustomizations.h"

#include <QDialog>
#include <QPointer>
#include <QVector>

class KORUHVNode;
class QComboBox;
class QDialogButtonBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QSetGroupValueDialog;

class QCreateSetGroupsDialog : public QDialog, public KORUHVNodeUsingDialog {
    Q_OBJECT
public:
    /* parent: the value dialog when editing; controller receives a new group
     * otherwise. */
    QCreateSetGroupsDialog(int groupIndex, QVector<KORUHVNode *> systems, QVector<KORUHVNode *> groupNodes,
                           QWidget *parent, QString groupName, KORUHVCustomizations *controller = nullptr);
    ~QCreateSetGroupsDialog() override;

    void initializeParametersChoice();
    void setParameterInComboBox(QString name);
    void disableGroupNameAndParameterField();

    bool usesNodesOf(int sysHandle, int slot) const override;
    void dropNodesAndClose() override;

    QTreeWidget *tree() const { return treeSource; }
    QComboBox *parameterCombo() const { return paramCombo; }
    QLineEdit *nameField() const { return groupNameField; }
    QDialogButtonBox *buttons() const { return buttonBox; }

public Q_SLOTS:
    void fillTreeWithAvailableChannels(QString setValue);
    void changeItemVisibility(QTreeWidgetItem *currentItem);
    void clickedOkButton();

private:
    QVector<KORUHVNode *> systemNodes;
    QVector<KORUHVNode *> groupNodes;
    /* Channel node of each channel entry: entries know their node directly,
     * so two same-named channels of two systems stay apart. */
    QHash<QTreeWidgetItem *, KORUHVNode *> channelOfItem;
    int groupIndex;
    QPointer<KORUHVCustomizations> controller;
    QPointer<QSetGroupValueDialog> valueDialog;
    QLineEdit *groupNameField = nullptr;
    QComboBox *paramCombo = nullptr;
    QTreeWidget *treeSource = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};

#endif
