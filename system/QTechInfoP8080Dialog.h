/* Technical information of a rack supply: serial number and releases, the
 * AC/DC status word, front-panel output lamps, and the NIM/TTL switch that
 * writes "Logic". */
#ifndef QTECHINFOP8080DIALOG_H
#define QTECHINFOP8080DIALOG_H

#include <QDialog>
#include <QString>

class KORUHVNode;
class KORUHVSwitch;
struct Ui_QTechInfoP8080Dialog;

class QTechInfoP8080Dialog : public QDialog {
    Q_OBJECT
public:
    /* serialNumber is the rack's unsigned 32-bit serial number. */
    QTechInfoP8080Dialog(QString swRelease, QString fwRelease, QString hwRelease, quint32 serialNumber,
                         ushort frontPanOut, KORUHVNode *logicNode, int acdcStatus,
                         QWidget *parent = nullptr);
    ~QTechInfoP8080Dialog() override;

    void setSwFwHvRelease(quint32 serialNumber, QString sw, QString fw, QString hw);
    void setFrontPanOut(ushort bits);
    void setFrontPanIn(ushort bits);
    void setFrontPanOutLevel(ushort level);

public Q_SLOTS:
    void changeWriteFrontPanOutLevel();

private:
    Ui_QTechInfoP8080Dialog *ui;
    KORUHVNode *levelNode = nullptr; /* not owned */
    KORUHVSwitch *levelSwitch = nullptr;
};

#endif
