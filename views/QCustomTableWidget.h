/* The channel table of a system's sub-window. Node cells recognise it by a
 * checked cast (qobject_cast) and colour its row headers for the power
 * switch. It lives in the model library because the model's cells depend on
 * it; the views built on the model extend it here. */
#ifndef QCUSTOMTABLEWIDGET_H
#define QCUSTOMTABLEWIDGET_H

#include <QBrush>
#include <QTableWidget>

class QCustomTableWidget : public QTableWidget {
    Q_OBJECT

public:
    explicit QCustomTableWidget(QWidget *parent = nullptr);
    QCustomTableWidget(int rows, int columns, QWidget *parent = nullptr);

    /* Header of a row whose power switch is on: green background, white
     * text. Rows outside the table are ignored. */
    void setVerticalHeaderColorToGreen(int row);
    /* Header of a row whose power switch is off: the base grey. */
    void setVerticalHeaderColorToBase(int row);

    QBrush getGreenHeaderBrush() const { return greenHeaderBrush; }
    QBrush getBaseHeaderBrush() const { return baseHeaderBrush; }

private:
    void colourVerticalHeader(int row, const QBrush &background);

    QBrush greenHeaderBrush;
    QBrush baseHeaderBrush;
};

#endif
