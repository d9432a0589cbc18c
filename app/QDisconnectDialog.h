/* Asks which W38XX board of a group to disconnect, or all boards. */
#ifndef QDISCONNECTDIALOG_H
#define QDISCONNECTDIALOG_H

#include <QDialog>

class MainWindow;
class QDialogButtonBox;
class QGroupBox;

class QDisconnectDialog : public QDialog {
    Q_OBJECT
public:
    explicit QDisconnectDialog(QWidget *parent);
    void createSystemInterfacesWidgets();

public Q_SLOTS:
    void okButtonClicked();
    void radioButtonClicked();

private:
    int selectedIndex = -1;
    MainWindow *mainWindow = nullptr;
    QGroupBox *views = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};

#endif
