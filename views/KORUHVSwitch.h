/* The painted two-state switch of an editable on/off parameter outside the
 * channel table: a track, a square knob and the device's own on/off words.
 * Only a click (clicked()) commits; setChecked() from a live value does not. */
#ifndef KORUHVSWITCH_H
#define KORUHVSWITCH_H

#include <QAbstractButton>
#include <QRect>

/* Where the rectangular switch draws its parts in a W x H widget. */
struct KORUHVSwitchGeometry {
    int h = 0;
    QRect track;
    QRect knob;
    QRect textBox;
    int fontPixelSize = 0;
};

KORUHVSwitchGeometry KORUHVSwitchGeometryFor(int width, int height, bool checked);

class KORUHVSwitch : public QAbstractButton {
    Q_OBJECT

public:
    KORUHVSwitch(QString onText, QString offText, int style, QWidget *parent = nullptr);

    QString getOnString() const { return onText; }
    QString getOffString() const { return offText; }
    QString getCurrentString() const { return isChecked() ? onText : offText; }
    int getStyle() const { return style; }
    /* The font the text of that state is drawn with: the condensed face at
     * half the track's height, smaller where the word would not fit its box. */
    QFont textFont(bool checked) const;
    /* The refused look of a field: the track's outline in the refused red
     * (a write the device refused; the switch shows the device's state). */
    void setRefusedLook(bool on);
    bool hasRefusedLook() const { return refusedLook; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString onText;
    QString offText;
    int style;
    bool refusedLook = false;
};

#endif
