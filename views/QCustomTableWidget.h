/* The channel table of a system's sub-window: one row per channel, one
 * column per channel parameter, each cell the parameter's own node (or its
 * mirror in the cross-system custom view). Beyond a plain item table it
 * colours alarm rows and the row headers of channels that are on, keeps a
 * multi-cell selection inside one column, writes one edited value to every
 * selected cell of that column (absolute or as an offset), and turns two
 * header gestures into requests for the trip editor and the offset menu.
 *
 * The table never owns the node cells: its destructor takes them out before
 * the base would delete them.
 *
 * Node cells reach it through KORUHVCellTable (the cell being edited, the row
 * header colour of the power switch); the constructor with the custom flag
 * (delegate, headers, look) lives in QCustomTableWidgetSetup.cpp. */
#ifndef QCUSTOMTABLEWIDGET_H
#define QCUSTOMTABLEWIDGET_H

#include "model/KORUHVCellTable.h"

#include <QBrush>
#include <QPoint>
#include <QTableWidget>
#include <QVariant>

class KORUHVNode;

class QCustomTableWidget : public QTableWidget, public KORUHVCellTable {
    Q_OBJECT

public:
    /* The table of a table window: delegate, headers and look installed. */
    QCustomTableWidget(bool isCustom, QWidget *parent);
    /* A plain table with the row-header colours only. */
    explicit QCustomTableWidget(QWidget *parent = nullptr);
    QCustomTableWidget(int rows, int columns, QWidget *parent = nullptr);
    ~QCustomTableWidget() override;

    /* Header of a row whose power switch is on: green background, white
     * text. Rows outside the table are ignored. */
    void setVerticalHeaderColorToGreen(int row);
    /* Header of a row whose power switch is off: the base grey. */
    void setVerticalHeaderColorToBase(int row);

    /* KORUHVCellTable: the current cell; the two header colours above. */
    bool isCellBeingEdited(const QTableWidgetItem *cell) const override;
    void colourRowHeader(int row, bool powerOn) override;

    QBrush getGreenHeaderBrush() const { return greenHeaderBrush; }
    QBrush getBaseHeaderBrush() const { return baseHeaderBrush; }
    bool isCustomTable() const { return isCustom; }

    /* The node a cell stands for (a mirror's reference node), or null. */
    static KORUHVNode *cellNode(QTableWidgetItem *cell);
    /* Takes every node and mirror cell out of the table without deleting it;
     * other items ("..." fillers) are deleted. */
    void takeOutAllItems();

    /* The node of the editor that sent endEditing (set by the views, which
     * know the editor class). */
    using EditorNodeResolver = KORUHVNode *(*)(QObject *editor);
    static void setEditorNodeResolver(EditorNodeResolver resolver);

Q_SIGNALS:
    void createDialogForTripHandling(int flagExt);
    void selectOffsetSettingModality(QPoint point, int column, int paramType);

public Q_SLOTS:
    void alternateRowColors();
    void checkColumnSelection();
    void cancelRowSelection();
    void setValueForAllSelected(QVariant valore);
    void emitCreateDialogForTripHandling(int sectionIdx);
    void emitSelectOffsetSettingModality(QPoint point);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void colourVerticalHeader(int row, const QBrush &background);
    void selectOnlyCurrent();

    bool isCustom = false;
    QBrush greenHeaderBrush;
    QBrush baseHeaderBrush;
};

#endif
