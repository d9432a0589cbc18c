// Saves a picture of the connection dialog (VME HV over optical link with
// two rows, and the crate type with the discovery panel) for a look.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>

#include "QAutodetectDialog.h"
#include "QConnectDialog.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString out = argc > 1 ? argv[1] : "connect-dialog.png";

    auto *crate = new QConnectDialog(nullptr, 0, nullptr);
    crate->show();
    crate->autodetectDialog()->show();
    QTableWidget *table = crate->autodetectDialog()->table();
    table->setRowCount(2);
    const char *rows[2][5] = {{"HX4400", "127.0.0.2", "0001", "2.3.0", "HX4400 Tarmin"},
                              {"HX5500", "127.0.0.3", "0002", "2.4.1", "HX5500 Tarmin"}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 5; ++c)
            table->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    crate->adjustSize();
    app.processEvents();
    crate->grab().save(QString(out).replace(".png", "-crate.png"));

    auto *vme = new QConnectDialog(nullptr, 0, nullptr);
    vme->show();
    vme->findChild<QComboBox *>("comboPSType")->setCurrentIndex(1);
    vme->findChild<QComboBox *>("comboConnType")->setCurrentIndex(1);
    vme->addNewVMEHVConnectionParametersWidget();
    vme->adjustSize();
    app.processEvents();
    vme->grab().save(out);
    delete crate;
    delete vme;
    return 0;
}
