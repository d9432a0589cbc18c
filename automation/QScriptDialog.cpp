#include "QScriptDialog.h"

#include "KORUHVNode.h"
#include "KORUHVScriptExecutor.h"
#include "KORUHVTreeChange.h"
#include "KORUHVUtils.h"
#include "Ui_QScriptDialog.h"

#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

std::function<QString(QWidget *, bool)> QScriptDialog::chooseScriptFileForTest;

QScriptDialog::QScriptDialog(KORUHVNode *system, QWidget * /*infoPanel*/, QWidget *parent)
    : QDialog(parent), ui(new Ui_QScriptDialog), systemNode(system)
{
    ui->setupUi(this);
    // The script is plain text: pasted or loaded markup stays as written.
    ui->actionsEdit->setAcceptRichText(false);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);

    ui->wizButton->setIcon(QIcon(QStringLiteral(":/Resources/buttons/wizard.png")));
    ui->buildButton->setIcon(QIcon(QStringLiteral(":/Resources/buttons/page-accept-icon.png")));
    ui->startButton->setIcon(QIcon(QStringLiteral(":/Resources/buttons/start.png")));
    QPushButton *save = ui->buttonBoxSaveOpen->button(QDialogButtonBox::Save);
    QPushButton *open = ui->buttonBoxSaveOpen->button(QDialogButtonBox::Open);
    save->setIcon(QIcon(QStringLiteral(":/Resources/buttons/save.png")));
    open->setIcon(QIcon(QStringLiteral(":/Resources/buttons/open-green.png")));
    save->setEnabled(false);
    ui->startButton->setEnabled(false);
    ui->buildButton->setEnabled(false);

    executor = new KORUHVScriptExecutor(this);
    executor->setSystemNode(systemNode);
    connect(executor, &KORUHVScriptExecutor::fragment, this, &QScriptDialog::appendToTextBrowser);
    connect(executor, &KORUHVScriptExecutor::finished, this, &QScriptDialog::runFinished);

    connect(ui->actionsEdit, &QTextEdit::textChanged, this, &QScriptDialog::actionsEditChanged);
    connect(save, &QPushButton::clicked, this, &QScriptDialog::saveScript);
    connect(open, &QPushButton::clicked, this, &QScriptDialog::loadScript);
    connect(ui->startButton, &QPushButton::clicked, this, &QScriptDialog::handleExecActions);
    connect(ui->wizButton, &QPushButton::clicked, this, &QScriptDialog::createWizardDialog);
    connect(ui->buildButton, &QPushButton::clicked, this, &QScriptDialog::checkScriptEdited);
}

QScriptDialog::~QScriptDialog()
{
    // A run still going (the dialog deleted without a close) ends here, while
    // the dialog is whole; then the dock leaves the main window.
    if (executor) {
        executor->disconnect(this);
        executor->abort();
    }
    if (runGuard)
        enableWidgets(true);
    releaseProgressPage();
    delete ui;
}

QString QScriptDialog::scriptText() const
{
    return ui->actionsEdit->toPlainText();
}

bool QScriptDialog::isRunning() const
{
    return executor && executor->isActive();
}

void QScriptDialog::actionsEditChanged()
{
    const bool any = !ui->actionsEdit->toPlainText().isEmpty();
    ui->buttonBoxSaveOpen->button(QDialogButtonBox::Save)->setEnabled(any);
    ui->startButton->setEnabled(any);
    ui->buildButton->setEnabled(any);
}

void QScriptDialog::scriptButtonSelection(int state)
{
    bool start, stop, pause;
    switch (state) {
    case 0:
        start = false, stop = true, pause = true;
        break;
    case 1:
        start = true, stop = false, pause = false;
        break;
    case 2:
        start = true, stop = true, pause = false;
        break;
    default:
        return;
    }
    if (dockStartButton)
        dockStartButton->setEnabled(start);
    if (dockStopButton)
        dockStopButton->setEnabled(stop);
    if (dockPauseButton)
        dockPauseButton->setEnabled(pause);
}

QVector<QVector<int>> QScriptDialog::parseChannelListString(QString list, int *code)
{
    return koruscript::parseChannelList(list, systemNode, code);
}

int QScriptDialog::checkSingleActionStringFormat(QString action)
{
    return koruscript::checkAction(action, systemNode, &paramName, &actionText);
}

int QScriptDialog::checkActionStringListFormat(QVector<QString> actions, QProgressDialog *progress)
{
    return koruscript::checkActions(actions, systemNode, &paramName, &actionText, [progress](int step) {
        if (progress && progress->value() <= 98)
            progress->setValue(progress->value() + step);
    });
}

void QScriptDialog::checkScriptEdited()
{
    auto *progress = new QProgressDialog(this);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setObjectName(QStringLiteral("checkProgress"));
    // The reason may quote script words: shown as plain text.
    auto *plainLabel = new QLabel(progress);
    plainLabel->setTextFormat(Qt::PlainText);
    progress->setLabel(plainLabel);
    progress->setLabelText(QStringLiteral("Checking script format.."));
    progress->setCancelButton(nullptr);
    progress->setRange(0, 100);
    progress->setWindowModality(Qt::WindowModal);
    progress->setAutoReset(false);
    progress->setAutoClose(false);
    progress->setMinimumDuration(0);
    progress->setValue(1);
    progress->show();

    actionList = koruscript::splitActions(ui->actionsEdit->toPlainText());
    const int result = checkActionStringListFormat(actionList, progress);

    progress->setValue(100);
    QString label;
    if (result == 0) {
        label = QStringLiteral("Script format correct.");
    } else {
        label = QStringLiteral("Script not correctly formatted.");
        if (result > 0)
            label += QLatin1Char('\n') + koruscript::checkFailureText(actionList, systemNode, result);
    }
    progress->setLabelText(label);
    auto *ok = new QPushButton(QStringLiteral("Ok"), progress);
    ok->setObjectName(QStringLiteral("checkOkButton"));
    progress->setCancelButton(ok);
    disconnect(ok, nullptr, progress, nullptr);
    connect(ok, &QPushButton::clicked, progress, &QWidget::close);
    ok->show();
}

QString QScriptDialog::chooseScriptFile(bool save)
{
    if (chooseScriptFileForTest)
        return chooseScriptFileForTest(this, save);
    QFileDialog dialog(this, QString(), QString(), QString());
    dialog.setNameFilter(
        QStringLiteral("%1 (*.%2)").arg(QStringLiteral("KORU Actions Script File"), QStringLiteral("kas")));
    dialog.setViewMode(QFileDialog::Detail);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!save)
        dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

void QScriptDialog::saveScript()
{
    const QString path = chooseScriptFile(true);
    if (path.isEmpty())
        return;
    actionList.clear();
    QString why;
    if (!KORUHVUtils::KORUHVSaveScript(path, ui->actionsEdit->toPlainText(), &why)) {
        QMessageBox box(
            QMessageBox::Warning, QStringLiteral("LUMO2020"),
            QStringLiteral("The script could not be saved to\n%1%2.\nThe previous file, if any, is "
                           "unchanged.")
                .arg(KORUHVUtils::KORUHVScriptFilePath(path),
                     why.isEmpty() ? QString() : QStringLiteral(":\n") + why),
            QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
}

void QScriptDialog::loadScript()
{
    const QString path = chooseScriptFile(false);
    if (path.isEmpty())
        return;
    const QString text = KORUHVUtils::KORUHVLoadScript(path);
    QVector<QString> pieces;
    if (!text.isEmpty())
        pieces = koruscript::splitActions(text.simplified());
    // Only what is not a script at all is refused here; a script written for
    // another crate is opened so that the operator can adapt it.
    bool script = !pieces.isEmpty();
    for (const QString &piece : pieces)
        script = script && koruscript::isWellFormedAction(piece);
    if (!script) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("LUMO2020"),
                        QStringLiteral("Incorrect file format."), QMessageBox::Ok, this);
        box.exec();
        return;
    }
    if (!clearOldScriptWarning())
        return;
    actionList.clear();
    actionText.clear();
    QStringList lines;
    for (const QString &piece : pieces) {
        actionList.append(piece + QLatin1Char(';'));
        lines.append(piece + QLatin1Char(';'));
    }
    ui->actionsEdit->setPlainText(lines.join(QLatin1Char('\n')));

    // What this system's check refuses, action by action (Start refuses to
    // run the script until it passes).
    QStringList refused;
    for (int i = 0; i < pieces.size(); ++i) {
        if (koruscript::checkAction(pieces[i], systemNode, &paramName) != koruscript::CheckValid)
            refused.append(koruscript::checkFailureText(pieces, systemNode, i + 1));
        if (!systemNode)
            break;
    }
    if (refused.isEmpty())
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("LUMO2020"),
                    QStringLiteral("The script was opened, but the check of this system refuses %1 of its "
                                   "%2 actions; adapt them before Start:\n%3")
                        .arg(refused.size())
                        .arg(pieces.size())
                        .arg(refused.join(QLatin1Char('\n'))),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("scriptRefusedActionsBox"));
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QScriptDialog::clearOldScriptWarning()
{
    if (!ui->actionsEdit->toPlainText().isEmpty()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("LUMO2020"),
                        QStringLiteral("There are still actions in the previous script. \n"
                                       "When new script will be generated, everything \n"
                                       "will be cleared. Do you really want to continue?"),
                        QMessageBox::Yes | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Cancel);
        if (box.exec() != QMessageBox::Yes)
            return false;
    }
    if (wizardDialog)
        wizardDialog->accept();
    return true;
}

void QScriptDialog::systemRemoved()
{
    if (executor)
        executor->setSystemNode(nullptr); // aborts a run before the tree goes
    systemNode = nullptr;
    parameterNode = nullptr;
    if (wizardDialog)
        wizardDialog->reject();
}

void QScriptDialog::treeAboutToChange(int slot)
{
    if (slot == KORUHVTreeChange::WholeTree)
        systemRemoved();
}

void QScriptDialog::closeEvent(QCloseEvent *event)
{
    // A run ends before the dialog goes: the stopped line is logged and the
    // main window's controls come back (runFinished) while all is intact.
    if (executor && executor->isActive())
        executor->abort();
    // The opener forgets this dialog.
    Q_EMIT closing();
    QDialog::closeEvent(event);
}
