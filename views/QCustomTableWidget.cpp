#include "QCustomTableWidget.h"

#include <QColor>
#include <QTableWidgetItem>

QCustomTableWidget::QCustomTableWidget(QWidget *parent)
    : QTableWidget(parent), greenHeaderBrush(QColor(53, 169, 18)), baseHeaderBrush(QColor(128, 128, 128))
{
}

QCustomTableWidget::QCustomTableWidget(int rows, int columns, QWidget *parent)
    : QTableWidget(rows, columns, parent), greenHeaderBrush(QColor(53, 169, 18)),
      baseHeaderBrush(QColor(128, 128, 128))
{
}

void QCustomTableWidget::setVerticalHeaderColorToGreen(int row)
{
    colourVerticalHeader(row, greenHeaderBrush);
}

void QCustomTableWidget::setVerticalHeaderColorToBase(int row)
{
    colourVerticalHeader(row, baseHeaderBrush);
}

void QCustomTableWidget::colourVerticalHeader(int row, const QBrush &background)
{
    if (row < 0 || row >= rowCount())
        return;
    QTableWidgetItem *header = verticalHeaderItem(row);
    if (!header) {
        /* No header item yet: make one with the label the table shows. */
        header = new QTableWidgetItem(QString::number(row + 1));
        setVerticalHeaderItem(row, header);
    }
    header->setBackground(background);
    header->setForeground(QBrush(Qt::white, Qt::SolidPattern));
}
