/* Stand-in of the painted on/off switch: a checkable button with the two
 * texts. The views' full class replaces this file. */
#ifndef KORUHVSWITCH_H
#define KORUHVSWITCH_H

#include <QAbstractButton>
#include <QString>

class KORUHVSwitch : public QAbstractButton {
    Q_OBJECT
public:
    KORUHVSwitch(QString onText, QString offText, int style, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString onText;
    QString offText;
    int style;
};

#endif
