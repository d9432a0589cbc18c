// Saves a picture of the on-screen keyboard, both layouts one above the
// other, with shift pressed once, for a look at the key pictures:
//   ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -s "-screen 0 1600x1000x24"
//   tests/program/views/views_keyboard_shot out.png
#include "QVirtualKeyboard.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("keyboard.png");
    QVirtualKeyboard *kb = getVirtualKeyboard();
    kb->setLetterCase();
    kb->show(nullptr, true);
    app.processEvents();
    const QPixmap full = kb->grab();
    kb->setKeyboardLayout();
    app.processEvents();
    const QPixmap numeric = kb->grab();
    QImage sheet(qMax(full.width(), numeric.width()), full.height() + numeric.height() + 10,
                 QImage::Format_RGB32);
    sheet.fill(Qt::gray);
    QPainter p(&sheet);
    p.drawPixmap(0, 0, full);
    p.drawPixmap(0, full.height() + 10, numeric);
    p.end();
    delete kb;
    return sheet.save(out) ? 0 : 1;
}
