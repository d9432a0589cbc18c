/* One value for every member of a set group; entry to edit or delete it. */
#ifndef QSETGROUPVALUEDIALOG_H
#define QSETGROUPVALUEDIALOG_H

#include "KORUHVCustomizations.h"

#include <QDialog>
#include <QPointer>
#include <QVariant>
#include <QVector>

class KORUHVNode;
class KORUHVWidgetItem;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QVBoxLayout;

class QSetGroupValueDialog : public QDialog, public KORUHVNodeUsingDialog {
    Q_OBJECT
public:
    QSetGroupValueDialog(QVector<KORUHVNode *> nodes, QString paramName, int groupIndex, QString groupName,
                         QWidget *parent, KORUHVCustomizations *controller = nullptr);
    ~QSetGroupValueDialog() override;

    void fillListWithChannels();
    void setParameterName();
    void setGroupName(QString name);
    /* Writes the member when the value fits it; otherwise marks it as not
     * written. The write's code, or -1 when nothing was written. */
    int setNewValueForNode(QVariant value, KORUHVNode *node);
    void groupEditedCallback(QVector<KORUHVNode *> nodes, QString paramName, QString groupName);

    /* Its members, or an open edit dialog over the group (which lists
     * whole trees). */
    bool usesNodesOf(int sysHandle, int slot) const override;
    void dropNodesAndClose() override;
    /* Closes an edit dialog over those nodes; when members go, closes
     * unwritten and tells the operator which members went and why. */
    void nodesGoing(int sysHandle, int slot) override;

    KORUHVWidgetItem *editor() const { return valueEditor; }
    QTreeWidget *membersList() const { return itemsList; }
    /* What the last OK did not write, and why; hidden when all was written. */
    QLabel *writeReport() const { return report; }
    QDialogButtonBox *buttons() const { return buttonBox; }
    QPushButton *editButton() const { return editGroupButton; }
    QPushButton *deleteButton() const { return deleteGroupButton; }
    QPushButton *showButton() const { return showItemsButton; }
    QPushButton *hideButton() const { return hideItemsButton; }
    int getGroupIndex() const { return groupIndex; }

public Q_SLOTS:
    void showItems();
    void hideItems();
    void editGroup();
    void deleteGroup();
    void clickedOkButton();

private:
    void buildEditor(bool expandBoth);
    /* The editor's value as the members get it: an on/off choice becomes
     * its state, so that each member takes it in its own words. */
    QVariant chosenValue() const;
    /* "system / board / channel" of the member whose parameter is nodes[i]. */
    QString memberLabel(int i) const;
    QString goneMessage(int sysHandle, int slot) const;
    void showReport(const QString &text);

    QVector<KORUHVNode *> nodes;
    QString paramName;
    int groupIndex;
    QString groupName;
    QPointer<KORUHVCustomizations> controller;
    KORUHVWidgetItem *valueEditor = nullptr;
    QLabel *paramLabel = nullptr;
    QVBoxLayout *editorColumn = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
    QPushButton *editGroupButton = nullptr;
    QPushButton *deleteGroupButton = nullptr;
    QPushButton *showItemsButton = nullptr;
    QPushButton *hideItemsButton = nullptr;
    QTreeWidget *itemsList = nullptr;
    QLabel *report = nullptr;
};

#endif
