/* Spin box of the program's input fields (minimal form: construction and
 * the mode flags). */
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

private:
    bool isTableWidgetChild = false;
    bool isDialogChild = false;
    bool constructorFlag = false;
};

#endif
