/* The program's integer spin box: one editing look and one key
 * discipline in a table cell, in a dialog or in a panel. */
#ifndef QCUSTOMSPINBOX_H
#define QCUSTOMSPINBOX_H

#include <QSpinBox>

class QCustomSpinBox : public QSpinBox {
    Q_OBJECT

public:
    QCustomSpinBox(bool flag, QWidget *parent = nullptr);

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
