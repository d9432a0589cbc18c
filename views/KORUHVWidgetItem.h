/* The one widget that shows and edits the value of a single node: a value
 * field chosen by the node's data type and access (line edit, spin box,
 * double spin box, combo, switch or label) and a unit label beside it.
 *
 * Commits: endEdit() when the field's editing finishes (focus loss, a
 * choice, a click) and setValueAndEmitSignalForNode() on Return/Enter. A key
 * confirms once: when Return already made endEdit() write, the Return path
 * writes nothing more. A field the operator has not typed into or stepped
 * writes nothing when its editing ends; Escape cancels. Live refreshes
 * (setDataInValueField) never commit. A number outside the parameter's
 * limits, or register text that is no hexadecimal word, is refused in the
 * field, never clamped and never written; a write the device refuses puts
 * the node's value back in the field and says so on it (refused look and
 * tool tip, as for refused input). The node is not owned; detachNode()
 * forgets it before its tree goes away. GUI thread only. */
#ifndef KORUHVWIDGETITEM_H
#define KORUHVWIDGETITEM_H

#include "KORUHVTypes.h"

#include <QPointer>
#include <QVariant>
#include <QWidget>

class KORUHVNode;
class QHBoxLayout;
class QLabel;
#include <QTableWidget>

class KORUHVWidgetItem : public QWidget {
    Q_OBJECT

public:
    KORUHVWidgetItem(QWidget *parent, KORUHVNode *node);
    ~KORUHVWidgetItem() override;

    void createInternalWidget(nodeDataType dataType, nodeAccessRights accessRights, QString unit,
                              QVariant value, int decimals, bool connectSignals);

    KORUHVNode *getReferenceNode() const { return referenceNode; }
    nodeDataType getDataType() const { return dataType; }
    QWidget *getValueFieldWidget() const { return valueField; }
    QLabel *getUnitLabel() const { return unitLabel; }

    void setSelectedStyleSheet();
    void setFixedExpUnitWidth();
    void setValueFieldAsTableWidgetChild();
    void setValueFieldAsDialogChild();

    QVariant getDataInValueField();
    void setDataInValueField(QVariant value);
    QString getStringDataAndExpUnit();
    void setValueAndEmitSignalForNode();

    /* The table whose offset properties ("Offset_I", "Offset_V") govern this
     * editor; none outside a table (offset entry off). An open field follows
     * a change of its mode at once: an offset field starts at 0, an absolute
     * one shows the node's value. */
    void setOffsetTable(QTableWidget *table);
    QTableWidget *getOffsetTable() const { return offsetTable; }
    /* Offset entry applies to this editor's node now. */
    bool isOffsetMode() const;

    /* A number field takes whatever number is typed; the parameter's limits
     * ("Minval", "Maxval"; in offset mode they bound the sum) are checked
     * when the input is confirmed. Input outside them, or text that is no
     * number, is refused in the field: nothing is written, the field keeps
     * the text, shows the refused look and says why in its tool tip, until
     * the next key or a refresh. true when the field's input may be
     * written (always for fields that are no number field). */
    bool acceptTypedValue();
    bool isInputRefused() const { return refused; }
    /* Why the field shows the refused look (its tool tip); empty when not. */
    QString refusalReason() const;
    /* Input that goes unwritten with the field (a table closing its editor):
     * the text refused, or left in offset entry, that could not be written,
     * and why; empty when there is none or the editing was cancelled. */
    QString droppedInput() const;
    /* The limits a typed number of this field must respect. */
    double lowerLimit() const { return limitLo; }
    double upperLimit() const { return limitHi; }
    /* In place of the node's own limits: an editor that stands for several
     * nodes refuses only what none of them takes. */
    void setTypedLimits(double lo, double hi)
    {
        limitLo = lo;
        limitHi = hi;
    }

    /* Forget the node without writing (its tree is about to be deleted):
     * every later commit and refresh does nothing. */
    void detachNode();
    /* Escape or a detach: nothing more is committed. */
    bool isCancelled() const { return cancelled; }

Q_SIGNALS:
    void valueFieldEdited();
    void endEditing(QVariant value);

public Q_SLOTS:
    void endEdit();
    void valueFieldEndEdit();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isHexRegister() const;
    bool isTextField() const;   /* line edit: hex register or text */
    bool isNumberField() const; /* spin box or double spin box */
    void followOffsetMode();
    /* Why the typed number cannot be written; empty when it can. */
    QString inputProblem() const;
    /* Why the text of a register field is no word to write; empty when it is. */
    QString registerProblem() const;
    /* acceptTypedValue() and the register word check: what the cell's own
     * commits (Return, finished editing) write. */
    bool acceptCellInput();
    /* Fields whose refused input keeps Return/Enter in the field. */
    bool refusesConfirmKeys() const;
    /* After a write the device refused with that code: the node's value
     * again in the field, and the refusal said on it. */
    void showRefusedWrite(int code);
    void markRefused(const QString &why);
    /* markRefused() for input that is not written, which keeps its text. */
    void refuseInput(const QString &why);
    /* The text of a line edit or spin box as it stands. */
    QString fieldText() const;
    void clearRefusal();
    void offsetBounds(double *lo, double *hi) const;
    void connectCommit(bool on);
    void restoreComboAfterRefusal(int previousIndex);
    bool readNewValue(QVariant *value, int *comboIndex);
    int writeNode(const QVariant &value);
    int comboIndexForNodeValue(const QVariant &value) const;

    QHBoxLayout *layout = nullptr;
    QWidget *valueField = nullptr;
    QLabel *unitLabel = nullptr;
    KORUHVNode *referenceNode = nullptr;
    nodeDataType dataType = DATA_INT32;
    QPointer<QTableWidget> offsetTable;
    QPointer<QObject> offsetWatch; /* the same table, for its events */
    bool commitConnected = false;
    bool cancelled = false;
    /* The operator typed or stepped since the last commit. */
    bool touched = false;
    /* The combo entry that shows the node's value (no new choice there). */
    int comboShownIndex = -1;
    /* A Return/Enter key is being delivered; set when endEdit() wrote for it. */
    bool returnKeyPending = false;
    bool wroteDuringReturn = false;
    /* Limits of a number field; the field's own range is the widest. */
    double limitLo = -2147483647.0;
    double limitHi = 2147483647.0;
    /* The float field shows an offset (0 at the start), not a value. */
    bool fieldInOffsetMode = false;
    bool refused = false;
    bool refusedNoNumber = false; /* left without a number: stays refused */
    /* The text of refused input as typed (a spin box puts its last number
     * back when left); empty for a refused write. */
    QString refusedInput;
    QString sheetBeforeRefusal;
};

#endif
