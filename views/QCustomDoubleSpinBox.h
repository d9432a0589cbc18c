/* Double spin box of the program's input fields (minimal form:
 * construction and the mode flags). */
#ifndef QCUSTOMDOUBLESPINBOX_H
#define QCUSTOMDOUBLESPINBOX_H

#include <QDoubleSpinBox>

class QCustomDoubleSpinBox : public QDoubleSpinBox {
    Q_OBJECT
public:
    QCustomDoubleSpinBox(bool flag, QWidget *parent = nullptr);
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
