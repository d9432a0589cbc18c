/* Combo box of the program's input fields (minimal form: construction and
 * the mode flags). */
#ifndef QCUSTOMCOMBOBOX_H
#define QCUSTOMCOMBOBOX_H

#include <QComboBox>

class QCustomComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit QCustomComboBox(QWidget *parent = nullptr);
    void setAlignmentRight();
    void setIsTableWidgetChild();
    void setIsDialogChild();
    bool getIsDialogChild() const { return isDialogChild; }

public slots:
    void clearComboCurrentText();

private:
    bool isTableWidgetChild = false;
    bool isDialogChild = false;
};

#endif
