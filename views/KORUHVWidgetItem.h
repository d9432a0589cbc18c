/* Stand-in of the value editor cell with the members the system panel
 * uses: a label for read-only values, a line edit otherwise. The views' full
 * class replaces this file. */
#ifndef KORUHVWIDGETITEM_H
#define KORUHVWIDGETITEM_H

#include "KORUHVTypes.h"

#include <QString>
#include <QVariant>
#include <QWidget>

class KORUHVNode;
class QHBoxLayout;
class QLabel;

class KORUHVWidgetItem : public QWidget {
    Q_OBJECT
public:
    KORUHVWidgetItem(QWidget *parent, KORUHVNode *node);
    ~KORUHVWidgetItem() override;

    void createInternalWidget(nodeDataType dataType, nodeAccessRights accessRights, QString unit, QVariant value,
                              int decimals, bool connectSignals);
    KORUHVNode *getReferenceNode() const { return node; }
    nodeDataType getDataType() const { return dataType; }
    QWidget *getValueFieldWidget() const { return valueField; }
    void setSelectedStyleSheet();
    QVariant getDataInValueField() const;
    void setDataInValueField(QVariant value);

signals:
    void valueFieldEdited();
    void endEditing(QVariant value);

public slots:
    void endEdit();
    void valueFieldEndEdit();

private:
    QHBoxLayout *layout = nullptr;
    QWidget *valueField = nullptr;
    QLabel *unitLabel = nullptr;
    KORUHVNode *node;
    nodeDataType dataType = DATA_INT32;
};

#endif
