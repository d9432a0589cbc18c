/* Looks shared by the program's input widgets: the face of a field inside a
 * table cell and the face of a field being worked on outside one. */
#ifndef KORUHVEDITSTYLES_H
#define KORUHVEDITSTYLES_H

#include <QColor>
#include <QKeyEvent>
#include <QString>

namespace koruviews {

inline QString cellStyleSheet()
{
    return QStringLiteral("background:transparent;");
}

inline QString editingStyleSheet()
{
    return QStringLiteral("background:#383838; border: 2px solid #98bd40; color: #bfff27;");
}

/* The red of refused input and refused writes. */
inline QColor refusedColour()
{
    return QColor(0xff, 0x30, 0x30);
}

/* Added to a field's own look while it shows input that was refused (out of
 * the parameter's limits, or no number) or a write the device refused: red
 * frame and red text. */
inline QString refusedStyleSheet()
{
    return QStringLiteral("background:#383838; border: 2px solid #ff3030; color: #ff3030;");
}

/* The keys a text or number field refuses so that they travel on to the
 * cell and the table: the arrows inside a table (navigation), the comma
 * everywhere ("." is the only decimal separator). */
inline bool fieldRefusesKey(int key, bool tableChild)
{
    if (key == Qt::Key_Comma)
        return true;
    return tableChild && key >= Qt::Key_Left && key <= Qt::Key_Down;
}

/* Style a line edit or spin box takes while it is worked on, by mode; an
 * empty optional result (false) leaves the style sheet as it is. */
inline bool workingStyleSheet(bool tableChild, bool dialogChild, QString *sheet)
{
    if (tableChild) {
        *sheet = cellStyleSheet();
        return true;
    }
    if (!dialogChild) {
        *sheet = editingStyleSheet();
        return true;
    }
    return false;
}

} // namespace koruviews

#endif
