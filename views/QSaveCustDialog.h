/* Which connected systems' own views go into a saved customization. */
#ifndef QSAVECUSTDIALOG_H
#define QSAVECUSTDIALOG_H

#include <QDialog>
#include <QPointer>
#include <QVector>

class KORUHVCustomizations;
class KORUHVNode;
class QCheckBox;
class QDialogButtonBox;
class QGroupBox;

class QSaveCustDialog : public QDialog {
    Q_OBJECT
public:
    /* systems: the root node of each connected interface, in order. */
    QSaveCustDialog(QWidget *parent, QVector<KORUHVNode *> systems, KORUHVCustomizations *controller);
    void createSystemInterfacesWidgets();
    QVector<QCheckBox *> boxes() const { return checkBoxes; }
    QDialogButtonBox *buttons() const { return buttonBox; }

public Q_SLOTS:
    void okButtonClicked();

private:
    QPointer<KORUHVCustomizations> controller;
    QVector<KORUHVNode *> systems;
    QVector<QCheckBox *> checkBoxes;
    QGroupBox *views = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};

#endif
