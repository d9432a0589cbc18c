#include "QCustomSpinBox.h"

QCustomSpinBox::QCustomSpinBox(bool f, QWidget *parent) : QSpinBox(parent), flag(f) {
    setContextMenuPolicy(Qt::NoContextMenu);
}
