/* The design of the rack supply's HV recovery and HV reset dialogs: each of
 * six buttons writes one bit of "RstRecFlag" at once (one bit per click, no
 * confirmation); OK closes. The flag picks the reset texts and the reset
 * bits (N + 8 instead of N). */
#ifndef HVFLAGDIALOG_H
#define HVFLAGDIALOG_H

#include <QDialog>

#include <memory>

class KORUHVNode;
struct HVFlagForm;

class HVFlagDialog : public QDialog {
    Q_OBJECT
public:
    ~HVFlagDialog() override;

public Q_SLOTS:
    void buttonClick();

protected:
    HVFlagDialog(std::shared_ptr<HVFlagForm> form, bool reset, KORUHVNode *system, QWidget *parent);

private:
    std::shared_ptr<HVFlagForm> ui;
    KORUHVNode *rstRecFlagNode = nullptr;
    bool reset;
};

#endif
