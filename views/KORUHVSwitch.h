/* Painted on/off switch (minimal version: checkable button showing its two
 * texts). */
#ifndef KORUHVSWITCH_H
#define KORUHVSWITCH_H

#include <QAbstractButton>
#include <QString>

class KORUHVSwitch : public QAbstractButton {
    Q_OBJECT
public:
    KORUHVSwitch(QString onText, QString offText, int value, QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString onText;
    QString offText;
    int value;
};

#endif
