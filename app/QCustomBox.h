/* The header box of an accordion entry: name, expand switch and up to two
 * buttons; every signal carries the box's index. */
#ifndef QCUSTOMBOX_H
#define QCUSTOMBOX_H

#include <QGroupBox>

class QCustomLabel;
class QElidingLabel;
class QLabel;
class QPushButton;

class QCustomBox : public QGroupBox {
    Q_OBJECT
public:
    QCustomBox(QString name, int index, QWidget *parentWidget, bool isCustomView, bool isSystemBox,
               QString disconnectText, QString extraText);

    int getWidgetIdx() const { return widgetIdx; }
    void setWidgetIdx(int index) { widgetIdx = index; }
    QWidget *getParentWidget() const { return parentWidget; }
    /* The interface a W38XX group's box was handed over to. */
    void setParentWidget(QWidget *parent) { parentWidget = parent; }
    bool getIsSelected() const { return isSelected; }
    bool getIsExpanded() const { return isExpanded; }
    QString getDisconnectButtonText() const;
    void setDisconnectButtonText(QString text);
    void setSelected(bool selected);
    QString getName() const;

Q_SIGNALS:
    void itemClicked(int index);
    void clickedDisconnectButton(int index);
    void clickedExtraButton(int index);
    void clickedExpandButton(int index);

public Q_SLOTS:
    void disconnectButtonClick();
    void extraButtonClick();
    void expandButtonClick();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void showExpandPicture();

    int widgetIdx;
    QWidget *parentWidget;
    bool isSelected = false;
    QElidingLabel *nameLabel = nullptr;
    QCustomLabel *expandLabel = nullptr;
    QPushButton *disconnectButton = nullptr;
    QPushButton *extraButton = nullptr;
    bool isSystemBox;
    bool isCustomView;
    bool isExpanded = true;
};

#endif
