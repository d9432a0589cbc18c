/* Line edit of the program's input fields (minimal form: construction and
 * the mode flags). */
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

private:
    bool isTableWidgetChild = false;
    bool isDialogChild = false;
    bool constructorFlag = false;
};

#endif
