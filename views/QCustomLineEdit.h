/* Minimal stand-in for the program's line edit (the value widgets' owner
 * replaces this file): an ordinary line edit with the constructor the
 * dialogs use. */
#ifndef QCUSTOMLINEEDIT_H
#define QCUSTOMLINEEDIT_H

#include <QLineEdit>

class QCustomLineEdit : public QLineEdit {
    Q_OBJECT

public:
    QCustomLineEdit(bool flag, QWidget *parent = nullptr);
    bool getFlag() const { return flag; }
    void setIsDialogChild() { isDialogChild = true; }
    bool getIsDialogChild() const { return isDialogChild; }

private:
    bool isDialogChild = false;
    bool flag;
};

#endif
