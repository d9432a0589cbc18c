/* Technical information of a crate mainframe: releases, power modules and
 * their currents, supply voltages, front-panel signals, and the NIM/TTL
 * switch that writes "OutputLevel". Live values arrive through the setters. */
#ifndef QTECHINFODIALOG_H
#define QTECHINFODIALOG_H

#include <QDialog>
#include <QString>

class KORUHVNode;
class KORUHVSwitch;
struct Ui_QTechInfoDialog;

class QTechInfoDialog : public QDialog {
    Q_OBJECT
public:
    QTechInfoDialog(QString swRelease, QString hvPwSM, QString pwCurrent, QString pwVoltage,
                    ushort frontPanOut, ushort frontPanIn, KORUHVNode *levelNode, QWidget *parent = nullptr);
    ~QTechInfoDialog() override;

    void setSwRelease(QString text);
    void setHvPwSMWidgets(QString text);
    void setPowerModulesWidgets(QString text);
    void setVoltagesWidgets(QString text);
    void setFrontPanOut(ushort bits);
    void setFrontPanIn(ushort bits);
    /* Moves the switch only: writes nothing, emits no click. */
    void setFrontPanOutLevel(ushort level);

public Q_SLOTS:
    void changeWriteFrontPanOutLevel();

private:
    Ui_QTechInfoDialog *ui;
    KORUHVNode *levelNode = nullptr; /* not owned */
    KORUHVSwitch *levelSwitch = nullptr;
};

#endif
