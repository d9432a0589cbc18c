/* The program's combo box: never changed by the wheel; inside a table cell it
 * leaves the arrows to the table and steps its choice with Space. */
#ifndef QCUSTOMCOMBOBOX_H
#define QCUSTOMCOMBOBOX_H

#include <QComboBox>

class QCustomComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit QCustomComboBox(QWidget *parent = nullptr);

    /* Editable with a read-only, right-aligned line edit: the choice shows
     * right-aligned and cannot be typed. */
    void setAlignmentRight();
    void setIsTableWidgetChild();
    void setIsDialogChild();
    bool getIsDialogChild() const { return isDialogChild; }
    bool getIsTableWidgetChild() const { return isTableWidgetChild; }

public Q_SLOTS:
    /* Table cell only: blank face, the entries and the current index stay. */
    void clearComboCurrentText();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    bool isTableWidgetChild = false;
    bool isDialogChild = false;
    QString restStyleSheet;
};

#endif
