#include "QCustomTableWidget.h"

#include "model/KORUHVMirrorNode.h"
#include "model/KORUHVNode.h"
#include "model/KORUHVNodeProperty.h"

#include <QColor>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPointer>
#include <QTableWidgetItem>

#include <climits>
#include <cmath>

namespace {

QCustomTableWidget::EditorNodeResolver editorNodeResolver = nullptr;

bool findLimit(const KORUHVNode *node, const char *name, double *value)
{
    for (const KORUHVNodeProperty *p : node->getProperties()) {
        if (p && p->getPropName() == QLatin1String(name)) {
            *value = p->getPropVal().KORUHVGetValue().toDouble();
            return true;
        }
    }
    return false;
}

} // namespace

QCustomTableWidget::QCustomTableWidget(QWidget *parent)
    : QTableWidget(parent), greenHeaderBrush(QColor(53, 169, 18)), baseHeaderBrush(QColor(128, 128, 128))
{
}

QCustomTableWidget::QCustomTableWidget(int rows, int columns, QWidget *parent)
    : QTableWidget(rows, columns, parent), greenHeaderBrush(QColor(53, 169, 18)),
      baseHeaderBrush(QColor(128, 128, 128))
{
}

QCustomTableWidget::~QCustomTableWidget()
{
    /* The base deletes its items: the nodes belong to their tree. */
    takeOutAllItems();
}

void QCustomTableWidget::setEditorNodeResolver(EditorNodeResolver resolver)
{
    editorNodeResolver = resolver;
}

KORUHVNode *QCustomTableWidget::cellNode(QTableWidgetItem *cell)
{
    return cell ? KORUHVNode::nodeOfCell(cell) : nullptr;
}

void QCustomTableWidget::takeOutAllItems()
{
    for (int r = 0; r < rowCount(); ++r) {
        for (int c = 0; c < columnCount(); ++c) {
            QTableWidgetItem *cell = item(r, c);
            if (cell && cellNode(cell))
                takeItem(r, c);
        }
    }
}

void QCustomTableWidget::setVerticalHeaderColorToGreen(int row)
{
    colourVerticalHeader(row, greenHeaderBrush);
}

void QCustomTableWidget::setVerticalHeaderColorToBase(int row)
{
    colourVerticalHeader(row, baseHeaderBrush);
}

bool QCustomTableWidget::isCellBeingEdited(const QTableWidgetItem *cell) const
{
    return cell && currentItem() == cell;
}

void QCustomTableWidget::colourRowHeader(int row, bool powerOn)
{
    if (powerOn)
        setVerticalHeaderColorToGreen(row);
    else
        setVerticalHeaderColorToBase(row);
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

void QCustomTableWidget::alternateRowColors()
{
    clearSelection();
    const QColor light(238, 238, 238), dark(213, 213, 213), alarm(238, 0, 0);
    QColor rowColour = light;
    QColor textColour = Qt::black;
    int visible = 0;
    QHeaderView *vh = verticalHeader();
    for (int visual = 0; visual < rowCount(); ++visual) {
        const int row = vh->logicalIndex(visual);
        if (row < 0 || isRowHidden(row))
            continue;
        const QColor parity = (visible++ % 2 == 0) ? light : dark;
        rowColour = parity;
        textColour = Qt::black;
        for (int c = 0; c < columnCount(); ++c) {
            QTableWidgetItem *cell = item(row, c);
            if (!cell)
                continue;
            if (cell->text() == QLatin1String("...")) {
                cell->setBackground(rowColour);
                cell->setForeground(textColour);
                continue;
            }
            KORUHVNode *node = cellNode(cell);
            if (node && node->getIsAlarmed()) {
                rowColour = alarm;
                textColour = Qt::white;
            } else {
                rowColour = parity;
                textColour = Qt::black;
            }
            cell->setBackground(rowColour);
            if (!node || node->getNodeName() != QLatin1String("Pw")) {
                cell->setForeground(textColour);
            } else if (node->getNodeValue().KORUHVGetValue().toBool()) {
                setVerticalHeaderColorToGreen(row);
            } else {
                setVerticalHeaderColorToBase(row);
            }
        }
    }
}

void QCustomTableWidget::selectOnlyCurrent()
{
    clearSelection();
    if (QTableWidgetItem *cur = currentItem())
        cur->setSelected(true);
}

void QCustomTableWidget::checkColumnSelection()
{
    QList<QTableWidgetItem *> selected = selectedItems();
    if (selected.size() > 1) {
        const int firstCol = column(selected.first());
        const int lastCol = column(selected.last());
        QTableWidgetItem *header = horizontalHeaderItem(lastCol);
        if (header && header->text() == QLatin1String("Name")) {
            selectOnlyCurrent();
        } else if (firstCol != lastCol) {
            clearSelection();
        }
    }
    if (QTableWidgetItem *cur = currentItem()) {
        cur->setSelected(true);
        if (!cur->isSelected()) {
            for (QTableWidgetItem *s : selectedItems()) {
                if (s->flags() & Qt::ItemIsEditable) {
                    selectionModel()->setCurrentIndex(indexFromItem(s), QItemSelectionModel::NoUpdate);
                    break;
                }
            }
        }
    }
}

void QCustomTableWidget::mouseReleaseEvent(QMouseEvent *event)
{
    checkColumnSelection();
    const QList<QTableWidgetItem *> selected = selectedItems();
    if (selected.size() > 1 && column(selected.first()) != column(selected.last()))
        selectOnlyCurrent();
    QTableWidget::mouseReleaseEvent(event);
}

void QCustomTableWidget::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Left || key == Qt::Key_Right) {
        if (selectedItems().size() > 1)
            selectOnlyCurrent();
    } else {
        checkColumnSelection();
        const QList<QTableWidgetItem *> selected = selectedItems();
        if (selected.size() > 1 && currentItem() && column(selected.first()) != currentColumn())
            selectOnlyCurrent();
    }
    QTableWidget::keyPressEvent(event);
}

void QCustomTableWidget::cancelRowSelection()
{
    selectOnlyCurrent();
}

void QCustomTableWidget::setValueForAllSelected(QVariant valore)
{
    KORUHVNode *edited = editorNodeResolver ? editorNodeResolver(sender()) : nullptr;
    if (!edited)
        return;
    const QString name = edited->getNodeName();
    if (name == QLatin1String("Name"))
        return;
    bool offsetMode = false;
    if (name == QLatin1String("I0Set") || name == QLatin1String("ISet"))
        offsetMode = property("Offset_I").toBool();
    else if (name == QLatin1String("V0Set") || name == QLatin1String("VSet"))
        offsetMode = property("Offset_V").toBool();
    const float offset = offsetMode ? sender()->property("OffsetAll").toFloat() : 0.0f;

    const QList<QTableWidgetItem *> selected = selectedItems();
    if (selected.size() <= 1)
        return;
    /* Each write talks to the device and may run a nested event loop in a
     * modal box: work from node pointers gathered first. */
    QVector<KORUHVNode *> targets;
    for (QTableWidgetItem *cell : selected) {
        KORUHVNode *node = cellNode(cell);
        if (!node || node == edited || node->getNodeName() != name || targets.contains(node))
            continue;
        targets.append(node);
    }
    for (KORUHVNode *node : targets) {
        if (offsetMode) {
            const float sum = node->getNodeValue().KORUHVGetValue().toFloat() + offset;
            double lo = -2147483647.0, hi = 2147483647.0;
            findLimit(node, "Minval", &lo);
            findLimit(node, "Maxval", &hi);
            /* A target the offset would take out of its own range is skipped. */
            if (!std::isfinite(sum) || sum < lo || sum > hi)
                continue;
            node->setNodeEditedValue(QVariant(sum));
        } else if (node->getNodeValue().KORUHVGetValue() != valore) {
            node->setNodeEditedValue(valore);
        }
    }
}

void QCustomTableWidget::emitCreateDialogForTripHandling(int sectionIdx)
{
    if (sectionIdx < 0 || sectionIdx >= horizontalHeader()->count())
        return;
    QTableWidgetItem *header = horizontalHeaderItem(sectionIdx);
    if (!header)
        return;
    const QString text = header->text();
    if (text.compare(QLatin1String("TripInt"), Qt::CaseInsensitive) == 0)
        Q_EMIT createDialogForTripHandling(0);
    else if (text.compare(QLatin1String("TripExt"), Qt::CaseInsensitive) == 0)
        Q_EMIT createDialogForTripHandling(1);
}

void QCustomTableWidget::emitSelectOffsetSettingModality(QPoint point)
{
    QHeaderView *hh = horizontalHeader();
    const int section = hh->logicalIndexAt(point.x());
    if (section < 0 || section >= hh->count())
        return;
    QTableWidgetItem *header = horizontalHeaderItem(section);
    if (!header)
        return;
    const QString text = header->text();
    int paramType = -1;
    if (text.compare(QLatin1String("I0Set"), Qt::CaseInsensitive) == 0 ||
        text.compare(QLatin1String("ISet"), Qt::CaseInsensitive) == 0)
        paramType = 0;
    else if (text.compare(QLatin1String("V0Set"), Qt::CaseInsensitive) == 0 ||
             text.compare(QLatin1String("VSet"), Qt::CaseInsensitive) == 0)
        paramType = 1;
    if (paramType < 0)
        return;
    Q_EMIT selectOffsetSettingModality(hh->viewport()->mapToGlobal(point), section, paramType);
}
