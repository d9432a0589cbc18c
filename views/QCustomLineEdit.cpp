#include "QCustomLineEdit.h"

QCustomLineEdit::QCustomLineEdit(bool f, QWidget *parent) : QLineEdit(parent), flag(f) {
    setContextMenuPolicy(Qt::NoContextMenu);
}
