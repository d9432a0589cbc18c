/* The connection dialog: chooses a supply, a link and its parameters and
 * hands them to the main window's connectDialogCallback. */
#ifndef QCONNECTDIALOG_H
#define QCONNECTDIALOG_H

#include <QDialog>

class QLineEdit;

class QConnectDialog : public QDialog {
    Q_OBJECT
public:
    QConnectDialog(QWidget *parent, int yOffset, QWidget *mainWindow);

private slots:
    void okClicked();

private:
    QLineEdit *address = nullptr;
    QLineEdit *name = nullptr;
    QLineEdit *user = nullptr;
    QLineEdit *password = nullptr;
};

#endif
