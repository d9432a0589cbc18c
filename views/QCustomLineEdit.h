/* The program's line edit: one editing look and one key discipline in a
 * table cell, in a dialog or in a panel. */
#ifndef QCUSTOMLINEEDIT_H
#define QCUSTOMLINEEDIT_H

#include <QLineEdit>

class QCustomLineEdit : public QLineEdit {
    Q_OBJECT

public:
    QCustomLineEdit(bool flag, QWidget *parent = nullptr);

    void setAlignmentRight();
    void setIsTableWidgetChild() { isTableWidgetChild = true; }
    void setIsDialogChild() { isDialogChild = true; }
    bool getIsDialogChild() const { return isDialogChild; }
    bool getIsTableWidgetChild() const { return isTableWidgetChild; }
    bool getConstructorFlag() const { return constructorFlag; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void restyle();

    bool isTableWidgetChild = false;
    bool isDialogChild = false;
    QString restStyleSheet;
    bool constructorFlag;
};

#endif
