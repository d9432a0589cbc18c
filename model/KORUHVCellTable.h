/* What a node cell asks of the table it stands in: whether the operator is
 * on a cell (a typed text then stays), and the colour of a row's header for
 * the power switch. The program's channel table implements it; a node finds
 * it on its table by a checked cast, so that the model knows no view class
 * and any other table leaves both untouched. GUI thread only. */
#ifndef KORUHVCELLTABLE_H
#define KORUHVCELLTABLE_H

class QTableWidgetItem;

class KORUHVCellTable {
public:
    /* True when `cell` is the table's current cell, the one being edited. */
    virtual bool isCellBeingEdited(const QTableWidgetItem *cell) const = 0;
    /* Header of `row`: green when its power switch is on, base grey when
     * off. Rows outside the table are ignored. */
    virtual void colourRowHeader(int row, bool powerOn) = 0;

protected:
    ~KORUHVCellTable() = default;
};

#endif
