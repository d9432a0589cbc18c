#include "QConnectDialog.h"

#include "AppGlobals.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSettings>

QConnectDialog::QConnectDialog(QWidget *parent, int yOffset, QWidget *) : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("QConnectDialog"));
    setWindowTitle(QStringLiteral("Connect"));
    move(x(), yOffset);
    QSettings settings(QStringLiteral("KORU"), QStringLiteral("App"));
    auto *form = new QFormLayout(this);
    address = new QLineEdit(settings.value(QStringLiteral("HX4400_lastIpAddress")).toString(), this);
    name = new QLineEdit(settings.value(QStringLiteral("lastCustName")).toString(), this);
    user = new QLineEdit(settings.value(QStringLiteral("HX4400_lastUserName")).toString(), this);
    password = new QLineEdit(this);
    password->setEchoMode(QLineEdit::Password);
    password->setObjectName(QStringLiteral("password"));
    form->addRow(QStringLiteral("IP address"), address);
    form->addRow(QStringLiteral("Name"), name);
    form->addRow(QStringLiteral("User"), user);
    form->addRow(QStringLiteral("Password"), password);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QConnectDialog::okClicked);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    password->setFocus();
}

void QConnectDialog::okClicked()
{
    const QString a = address->text(), n = name->text(), u = user->text(), p = password->text();
    accept();
    if (MainWindowServices *w = getMainWindow())
        w->connectDialogCallback(2, 0, a, n, u, p);
}
