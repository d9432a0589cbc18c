/* Minimal stand-in for the program's integer spin box (the value widgets'
 * owner replaces this file). */
#ifndef QCUSTOMSPINBOX_H
#define QCUSTOMSPINBOX_H

#include <QSpinBox>

class QCustomSpinBox : public QSpinBox {
    Q_OBJECT

public:
    QCustomSpinBox(bool flag, QWidget *parent = nullptr);
    void setIsDialogChild() { isDialogChild = true; }
    bool getIsDialogChild() const { return isDialogChild; }

private:
    bool isDialogChild = false;
    bool flag;
};

#endif
