/* Dialog of the general-signal configuration ("GenSignCfg"): an enable bit and five conditions. Six check boxes, one per bit of the mask; OK hands
 * the new mask to the opening panel, Cancel writes nothing. Deletes itself
 * when it closes. */
#ifndef QGENSIGNCFGDIALOG_H
#define QGENSIGNCFGDIALOG_H

#include <QDialog>

#include <array>

class QSystemInformations;
class Ui_QGenSignCfgDialog;

class QGenSignCfgDialog : public QDialog {
    Q_OBJECT
public:
    QGenSignCfgDialog(QWidget *panel, int mask, QWidget *parent);
    ~QGenSignCfgDialog() override;

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

    Ui_QGenSignCfgDialog *ui;
    QSystemInformations *systemPanel;
    std::array<bool, 6> flagValues{};
};

#endif
