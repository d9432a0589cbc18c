/* The forms of the panel's small flag dialogs, written as code: the
 * general-signal and reset-flag forms (six check boxes, OK and Cancel) and
 * the HV recovery / HV reset form (six push buttons and OK). */
#ifndef FLAGDIALOGFORMS_H
#define FLAGDIALOGFORMS_H

#include <QString>

#include <array>

class QCheckBox;
class QDialog;
class QDialogButtonBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QPushButton;
class QVBoxLayout;

/* Check-box form; `reset` picks the reset-flag texts and details. */
struct FlagBoxesForm {
    QVBoxLayout *verticalLayout = nullptr;
    QCheckBox *checkBox0 = nullptr, *checkBox1 = nullptr, *checkBox2 = nullptr, *checkBox3 = nullptr,
              *checkBox4 = nullptr, *checkBox5 = nullptr;
    QDialogButtonBox *buttonBox = nullptr;

    std::array<QCheckBox *, 6> boxes() const
    {
        return {checkBox0, checkBox1, checkBox2, checkBox3, checkBox4, checkBox5};
    }
    void setupUi(QDialog *dialog, bool reset);
};

class Ui_QGenSignCfgDialog : public FlagBoxesForm {
public:
    void setupUi(QDialog *dialog) { FlagBoxesForm::setupUi(dialog, false); }
};

class Ui_QResetFlagsDialog : public FlagBoxesForm {
public:
    void setupUi(QDialog *dialog) { FlagBoxesForm::setupUi(dialog, true); }
};

/* Push-button form; `reset` picks the "HV Reset N" texts. */
struct HVFlagForm {
    QVBoxLayout *verticalLayout = nullptr;
    QGroupBox *groupBox = nullptr;
    QVBoxLayout *verticalLayout_2 = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QPushButton *pushButton_0 = nullptr, *pushButton_1 = nullptr, *pushButton_2 = nullptr,
                *pushButton_3 = nullptr, *pushButton_4 = nullptr, *pushButton_5 = nullptr;
    QHBoxLayout *hboxLayout = nullptr;
    QPushButton *okButton = nullptr;

    std::array<QPushButton *, 6> buttons() const
    {
        return {pushButton_0, pushButton_1, pushButton_2, pushButton_3, pushButton_4, pushButton_5};
    }
    void setupUi(QDialog *dialog, bool reset);
};

class Ui_QHVRecoveryDialog : public HVFlagForm {
public:
    void setupUi(QDialog *dialog) { HVFlagForm::setupUi(dialog, false); }
};

class Ui_QHVResetDialog : public HVFlagForm {
public:
    void setupUi(QDialog *dialog) { HVFlagForm::setupUi(dialog, true); }
};

#endif
