#include "QLoadCustDialog.h"

#include "KORUHVCustomizationRules.h"
#include "KORUHVCustomizations.h"
#include "KORUHVNode.h"
#include "KORUHVUtils.h"
#include "QCustomLineEdit.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace KORUHVCustomizationRules;

QLoadCustDialog::QLoadCustDialog(QWidget *parent, QString file, KORUHVCustomizations *controller)
    : QDialog(parent), controller(controller)
{
    resize(660, 152);
    setWindowTitle(QStringLiteral("QLoadCustDialog"));
    auto *layout = new QVBoxLayout(this);
    views = new QGroupBox(QStringLiteral("Views"), this);
    views->setObjectName(QStringLiteral("views"));
    layout->addWidget(views);
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(buttonBox);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setAttribute(Qt::WA_DeleteOnClose);
    if (!file.isEmpty()) {
        checkedCount = 0;
        createWidgetsForPSInFile(file);
        setMaximumHeight(sizeHint().height());
        connect(buttonBox, &QDialogButtonBox::accepted, this, &QLoadCustDialog::okButtonClicked);
    }
    updateOkButton();
}

void QLoadCustDialog::updateOkButton()
{
    // A ticked connected row counts too: its stored view is applied. With
    // no row at all OK only closes the dialog.
    bool anyTicked = rowWidgets.isEmpty();
    for (QWidget *row : rowWidgets)
        anyTicked = anyTicked || (row->isEnabled() && row->findChild<QCheckBox *>()->isChecked());
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(anyTicked);
}

QString QLoadCustDialog::getSubdirPath(QString file)
{
    return KORUHVUtils::KORUHVConfigurationFolderPath(file);
}

QStringList QLoadCustDialog::getSubFiles(QString dir)
{
    QDir folder(dir);
    if (dir.isEmpty() || !folder.exists())
        return {};
    return folder.entryList({QStringLiteral("*.%1").arg(QStringLiteral("kvc"))}, QDir::Files,
                            QDir::Name | QDir::IgnoreCase);
}

int QLoadCustDialog::countPSAlreadyConnected()
{
    return controller ? controller->countMainSystemsConnected() : 0;
}

bool QLoadCustDialog::checkConnected(QString initParam)
{
    return controller && !initParam.isEmpty() && controller->checkLoadingSystemIfConnected(initParam) >= 0;
}

void QLoadCustDialog::createWidgetsForPSInFile(QString file)
{
    const QString folder = getSubdirPath(file);
    const QStringList files = getSubFiles(folder);
    const int limit = 4 - countPSAlreadyConnected();
    auto *layout = new QVBoxLayout();
    for (const QString &name : files) {
        const auto hash = KORUHVUtils::KORUHVLoadConfigurationFile(folder + QLatin1Char('/') + name);
        const LoadRow row = loadRowFromHash(hash);
        QWidget *w = createSystemRowWidget(row.name, row.initParam, row.psType, row.connType, limit,
                                           row.isCustomView, row.usable);
        layout->addWidget(w);
        hashes.append(hash);
    }
    views->setLayout(layout);
}

QWidget *QLoadCustDialog::createSystemRowWidget(QString name, QString initParam, int psType, int connType,
                                                int limit, bool isCustomView, bool usable)
{
    auto *row = new QWidget(views);
    row->setObjectName(QStringLiteral("widgetRow"));
    auto *layout = new QHBoxLayout(row);
    layout->setSpacing(15);
    auto *box = new QCheckBox(name, row);
    layout->addWidget(box);
    layout->addWidget(new QLabel(initParam, row));
    layout->addSpacing(10);
    layout->addWidget(new QLabel(psTypeText(psType), row));
    layout->addSpacing(5);
    layout->addWidget(new QLabel(connTypeText(connType), row));
    layout->addStretch();
    QWidget *login = nullptr;
    if (isCustomView) {
        box->setObjectName(QStringLiteral("CustomView"));
    } else {
        box->setObjectName(QStringLiteral("system"));
        if (needsLogin(psType)) {
            login = createWidgetForUserPassField();
            login->setParent(row);
            layout->addWidget(login);
        }
    }
    row->setProperty("usable", usable);
    rowWidgets.append(row);
    const bool connected = !isCustomView && checkConnected(initParam);
    if (!usable) {
        // Never ticked, never enabled again: it does not count.
        row->setEnabled(false);
        box->setChecked(false);
    } else if (isCustomView) {
        box->setChecked(true);
    } else if (checkedCount < limit || connected) {
        box->setChecked(true);
        if (connected && login)
            login->setEnabled(false);
        else if (!connected)
            ++checkedCount;
    } else {
        row->setEnabled(false);
    }
    row->setProperty("connected", connected);
    connect(box, &QCheckBox::stateChanged, this, &QLoadCustDialog::checkPressed);
    return row;
}

QWidget *QLoadCustDialog::createWidgetForUserPassField()
{
    auto *w = new QWidget();
    auto *layout = new QHBoxLayout(w);
    auto *user = new QCustomLineEdit(false, w);
    user->setObjectName(QStringLiteral("user"));
    user->setPlaceholderText(QStringLiteral("Username"));
    auto *pass = new QCustomLineEdit(false, w);
    pass->setObjectName(QStringLiteral("pass"));
    pass->setPlaceholderText(QStringLiteral("Password"));
    pass->setEchoMode(QLineEdit::Password);
    pass->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    for (QLineEdit *e : {user, pass})
        e->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(user);
    layout->addSpacing(5);
    layout->addWidget(pass);
    return w;
}

void QLoadCustDialog::checkPressed(int state)
{
    auto *box = qobject_cast<QCheckBox *>(sender());
    // Ticking a connected or custom-view row costs no connection.
    const bool counts = !box || (box->objectName() == QLatin1String("system") &&
                                 !box->parentWidget()->property("connected").toBool());
    if (counts)
        checkedCount += state != 0 ? 1 : -1;
    const int limit = 4 - countPSAlreadyConnected();
    for (QWidget *row : rowWidgets) {
        if (!row->property("usable").toBool())
            continue;
        auto *rowBox = row->findChild<QCheckBox *>();
        const bool free =
            row->property("connected").toBool() || rowBox->objectName() == QLatin1String("CustomView");
        row->setEnabled(checkedCount < limit || rowBox->isChecked() || free);
    }
    updateOkButton();
}

void QLoadCustDialog::okButtonClicked()
{
    if (!controller) {
        close();
        return;
    }
    QVector<QMultiHash<QString, QVariant> *> systems;
    QVector<QString> users;
    QVector<QString> passwords;
    bool withCustomView = false;
    for (int i = 0; i < rowWidgets.size(); ++i) {
        QWidget *row = rowWidgets[i];
        auto *box = row->findChild<QCheckBox *>();
        if (!row->isEnabled() || !box->isChecked())
            continue;
        if (box->objectName().compare(QLatin1String("CustomView"), Qt::CaseInsensitive) == 0)
            withCustomView = true;
        systems.append(new QMultiHash<QString, QVariant>(hashes[i]));
        auto *user = row->findChild<QLineEdit *>(QStringLiteral("user"));
        auto *pass = row->findChild<QLineEdit *>(QStringLiteral("pass"));
        users.append(user ? user->text() : QString());
        passwords.append(pass ? pass->text() : QString());
    }
    QPointer<KORUHVCustomizations> c = controller;
    close();
    c->loadCustomizedViewCallback(systems, users, passwords, withCustomView);
}
