/* The program's about box. */
#ifndef QABOUTDIALOG_H
#define QABOUTDIALOG_H

#include <QDialog>

class QAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit QAboutDialog(QWidget *parent);
};

#endif
