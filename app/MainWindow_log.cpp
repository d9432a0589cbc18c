/* The main window's side of the change log: a writer that cannot write is
 * reported to the operator once per failure episode, without blocking. */
#include "KORUHVLogAppender.h"
#include "MainWindow.h"

#include <QMessageBox>

void MainWindow::handleLogWriteFailed(QString sysName, QString path, QString error)
{
    const QString text =
        QStringLiteral("The change log of %1 could not be written to\n%2\n(%3).\n"
                       "New records are kept and written again every second; past %4 records "
                       "they are counted and dropped.")
            .arg(sysName, path, error, QString::number(KORUHVLogAppender::DefaultMaxHeldRecords));
    /* A further episode while the box is up only updates its text. */
    auto *box = findChild<QMessageBox *>(QStringLiteral("logWriteFailedBox"), Qt::FindDirectChildrenOnly);
    if (!box) {
        box = new QMessageBox(QMessageBox::Warning, QStringLiteral("LUMO2020"), QString(), QMessageBox::Ok,
                              this);
        box->setObjectName(QStringLiteral("logWriteFailedBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
    }
    box->setText(text);
    box->show();
}
