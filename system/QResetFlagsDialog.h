/* Dialog of the reset-flag configuration ("ResFlagCfg"): three of the six causes are shown, the hidden bits go back as they were read. Six check boxes, one per bit of the mask; OK hands
 * the new mask to the opening panel, Cancel writes nothing. Deletes itself
 * when it closes. */
#ifndef QRESETFLAGSDIALOG_H
#define QRESETFLAGSDIALOG_H

#include <QDialog>

#include <array>

class QSystemInformations;
class Ui_QResetFlagsDialog;

class QResetFlagsDialog : public QDialog {
    Q_OBJECT
public:
    QResetFlagsDialog(QWidget *panel, int mask, QWidget *parent);
    ~QResetFlagsDialog() override;

    void setCheckBoxValues();

public slots:
    void changeFlag0(int val);
    void changeFlag1(int val);
    void changeFlag2(int val);
    void changeFlag3(int val);
    void changeFlag4(int val);
    void changeFlag5(int val);
    void okButtonClicked();

private:
    void changeFlag(int bit, int val);

    Ui_QResetFlagsDialog *ui;
    QSystemInformations *systemPanel;
    std::array<bool, 6> flagValues{};
};

#endif
