/* The design of the panel's two flag-mask dialogs, general signals
 * ("GenSignCfg") and reset flags ("ResFlagCfg"): six check boxes, one per bit
 * of the mask, each styled by its state; OK hands the new mask to the opening
 * panel, Cancel writes nothing. Deletes itself when it closes. The two differ
 * in their form, in the boxes they offer (a hidden box's bit goes back as it
 * was read) and in the panel callback OK calls. */
#ifndef FLAGMASKDIALOG_H
#define FLAGMASKDIALOG_H

#include <QDialog>

#include <array>
#include <memory>

class QSystemInformations;
struct FlagBoxesForm;

class FlagMaskDialog : public QDialog {
    Q_OBJECT
public:
    ~FlagMaskDialog() override;

    void setCheckBoxValues();

public Q_SLOTS:
    void changeFlag0(int val);
    void changeFlag1(int val);
    void changeFlag2(int val);
    void changeFlag3(int val);
    void changeFlag4(int val);
    void changeFlag5(int val);
    void okButtonClicked();

protected:
    // What sets one flag-mask dialog apart.
    struct Kind {
        bool reset;                                      // the reset-flag form's texts and details
        std::array<bool, 6> offered;                     // boxes shown and connected
        void (QSystemInformations::*callback)(int mask); // where OK sends the mask
    };
    FlagMaskDialog(std::shared_ptr<FlagBoxesForm> form, const Kind &kind, QWidget *panel, int mask,
                   QWidget *parent);

private:
    void changeFlag(int bit, int val);

    std::shared_ptr<FlagBoxesForm> ui;
    QSystemInformations *systemPanel;
    std::array<bool, 6> flagValues{};
    void (QSystemInformations::*callback)(int mask);
};

#endif
