#include "QLogDialog.h"

#include "KORUHVLogGlobals.h"
#include "KORUHVNode.h"
#include "KORUHVTreeChange.h"
#include "QCustomLineEdit.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

void Ui_QLogDialog::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("QLogDialog"));
    dialog->resize(374, 652);
    dialog->setWindowTitle(QStringLiteral("Advanced Logging"));
    verticalLayout_2 = new QVBoxLayout(dialog);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setSpacing(6);
    verticalLayout_2->setContentsMargins(9, 9, 9, 9);
    groupBox = new QGroupBox(dialog);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    gridLayout = new QGridLayout(groupBox);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(30);
    gridLayout->setContentsMargins(11, 11, 11, 11);

    chLab = new QLabel(QStringLiteral("Channels"), groupBox);
    chLab->setObjectName(QStringLiteral("chLab"));
    chLab->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    chLab->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    gridLayout->addWidget(chLab, 0, 0);
    treeWidget = new QTreeWidget(groupBox);
    treeWidget->setObjectName(QStringLiteral("treeWidget"));
    treeWidget->setColumnCount(2);
    treeWidget->header()->hide();
    treeWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    gridLayout->addWidget(treeWidget, 0, 1);

    parLab = new QLabel(QStringLiteral("Parameters"), groupBox);
    parLab->setObjectName(QStringLiteral("parLab"));
    parLab->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    parLab->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    gridLayout->addWidget(parLab, 2, 0);
    listWidget = new QTreeWidget(groupBox);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setColumnCount(1);
    listWidget->header()->hide();
    listWidget->setRootIsDecorated(false);
    listWidget->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listWidget->setDropIndicatorShown(false);
    listWidget->setAlternatingRowColors(false);
    listWidget->setMidLineWidth(1);
    listWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    gridLayout->addWidget(listWidget, 2, 1);

    label = new QLabel(QStringLiteral("Log Filename"), groupBox);
    label->setObjectName(QStringLiteral("label"));
    gridLayout->addWidget(label, 3, 0);
    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(6);
    horizontalLayout->setContentsMargins(9, 9, 9, 9);
    fileLine = new QCustomLineEdit(true, groupBox);
    fileLine->setObjectName(QStringLiteral("fileLine"));
    horizontalLayout->addWidget(fileLine);
    fileButton = new QPushButton(QStringLiteral("Choose"), groupBox);
    fileButton->setObjectName(QStringLiteral("fileButton"));
    horizontalLayout->addWidget(fileButton);
    gridLayout->addLayout(horizontalLayout, 3, 1);
    verticalLayout_2->addWidget(groupBox);

    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    verticalLayout_2->addWidget(buttonBox);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
}

QLogDialog::QLogDialog(KORUHVNode *system, QWidget *parent)
    : QDialog(parent), ui(new Ui_QLogDialog), systemNode(system)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *ok = ui->buttonBox->button(QDialogButtonBox::Ok);
    connect(ok, &QPushButton::clicked, this, &QLogDialog::okButtonClicked);
    connect(ui->fileButton, &QPushButton::clicked, this, &QLogDialog::fileButtonClicked);
    const QString current = currentLogFilename();
    if (current.isEmpty()) {
        ok->setEnabled(false);
    } else {
        ui->fileLine->setText(current);
        ok->setEnabled(true);
    }
    connect(ui->fileLine, &QLineEdit::textChanged, this, &QLogDialog::fileLineChanged);
    ui->treeWidget->setObjectName(QStringLiteral("chanSel"));
    ui->treeWidget->setStyleSheet(QStringLiteral("#chanSel::item:enabled { color: #439847; } "
                                                 "#chanSel::item:!enabled { color: grey; }"));
    ui->listWidget->setStyleSheet(QStringLiteral("QTreeWidget::item { color: #202020; } "
                                                 "QTreeWidget::item:selected { color: #bfff27; "
                                                 "background: #383838; }"));
    createLogGroupConfig();
}

QLogDialog::~QLogDialog()
{
    delete ui;
}

QString QLogDialog::logFileNameFromField(const QString &text, const QString &home)
{
    if (text.isEmpty())
        return QString();
    QString name = text;
    const QString suffix = QStringLiteral(".%1").arg(QStringLiteral("log"));
    if (!name.endsWith(suffix))
        name += suffix;
    if (QFileInfo(name).isRelative())
        name = QDir(home).filePath(name);
    return name;
}

void QLogDialog::createLogGroupConfig()
{
    if (!systemNode)
        return;
    ui->groupBox->setTitle(systemNode->getNodeName());
    populateTreeAndListWidget();
}

void QLogDialog::populateTreeAndListWidget()
{
    if (!systemNode)
        return;
    QTreeWidget *tree = ui->treeWidget;
    QTreeWidget *list = ui->listWidget;
    tree->header()->hide();
    tree->setColumnCount(2);
    connect(tree, &QTreeWidget::itemClicked, this, &QLogDialog::changeItemVisibility, Qt::UniqueConnection);

    auto findListItem = [list](const QString &name) -> QTreeWidgetItem * {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0).compare(name, Qt::CaseInsensitive) == 0)
                return list->topLevelItem(i);
        return nullptr;
    };
    auto setEnabledFlag = [](QTreeWidgetItem *item, bool on) {
        item->setFlags(on ? item->flags() | Qt::ItemIsEnabled : item->flags() & ~Qt::ItemIsEnabled);
    };

    for (KORUHVNode *board : systemNode->getChildren()) {
        auto *boardItem = new QTreeWidgetItem();
        boardItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/modulo.png")));
        boardItem->setText(1, board->getNodeName());
        setEnabledFlag(boardItem, false);
        QVector<QTreeWidgetItem *> selectNow;
        for (KORUHVNode *channel : board->getChildren()) {
            auto *chItem = new QTreeWidgetItem(boardItem);
            chItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/canale.png")));
            chItem->setText(1, channel->getNodeName());
            setEnabledFlag(chItem, false);
            for (KORUHVNode *p : channel->getParameters()) {
                QTreeWidgetItem *listItem = findListItem(p->getNodeName());
                if (!listItem) {
                    listItem = new QTreeWidgetItem(QStringList(p->getNodeName()));
                    list->addTopLevelItem(listItem);
                }
                if (p->getHasLogEnabled()) {
                    setEnabledFlag(chItem, true);
                    setEnabledFlag(boardItem, true);
                    listItem->setSelected(true);
                }
            }
        }
        tree->addTopLevelItem(boardItem);
        boardItem->setHidden(board->getNodeType() == NODE_GROUP);
    }
    shownBoards = boardSignature();
    const QVector<KORUHVNode *> sysParams = systemNode->getParameters();
    for (int i = 0; i < sysParams.size(); ++i) {
        auto *item = new QTreeWidgetItem(QStringList(sysParams[i]->getNodeName()));
        list->insertTopLevelItem(qMin(i, list->topLevelItemCount()), item);
        item->setSelected(sysParams[i]->getHasLogEnabled());
    }
}

void QLogDialog::changeItemVisibility(QTreeWidgetItem *item)
{
    if (!item)
        return;
    QFont font = item->font(1);
    auto setOn = [](QTreeWidgetItem *i, bool on, const QFont &f) {
        i->setFlags(on ? i->flags() | Qt::ItemIsEnabled : i->flags() & ~Qt::ItemIsEnabled);
        i->setFont(1, f);
    };
    if (!(item->flags() & Qt::ItemIsEnabled)) {
        font.setWeight(QFont::Bold);
        setOn(item, true, font);
        for (int i = 0; i < item->childCount(); ++i)
            setOn(item->child(i), true, font);
        if (item->parent())
            setOn(item->parent(), true, font);
    } else {
        font.setWeight(QFont::Normal);
        setOn(item, false, font);
        for (int i = 0; i < item->childCount(); ++i)
            setOn(item->child(i), false, font);
        if (QTreeWidgetItem *parent = item->parent()) {
            bool any = false;
            for (int i = 0; i < parent->childCount(); ++i)
                any = any || (parent->child(i)->flags() & Qt::ItemIsEnabled);
            if (!any)
                setOn(parent, false, font);
        }
    }
    item->setFont(1, font);
    item->setSelected(false);
}

void QLogDialog::fileLineChanged(QString str)
{
    // The name takes effect on OK only: a half-typed name must not receive
    // the batches written meanwhile.
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(!str.isEmpty());
}

void QLogDialog::fileButtonClicked()
{
    QFileDialog chooser(this, QString(), QString(), QString());
    chooser.setNameFilter(
        QStringLiteral("%1 (*.%2)").arg(QStringLiteral("KORU LUMO 2020 Log File"), QStringLiteral("log")));
    chooser.setViewMode(QFileDialog::Detail);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    const QString path = chooser.selectedFiles().first();
    if (!path.isEmpty())
        ui->fileLine->setText(path);
}

void QLogDialog::reset()
{
    if (!systemNode)
        return;
    for (KORUHVNode *p : systemNode->getParameters())
        p->setHasLogEnabled(false);
    for (KORUHVNode *board : systemNode->getChildren())
        for (KORUHVNode *channel : board->getChildren())
            for (KORUHVNode *p : channel->getParameters())
                p->setHasLogEnabled(false);
}

QStringList QLogDialog::boardSignature() const
{
    QStringList out;
    if (!systemNode)
        return out;
    for (KORUHVNode *board : systemNode->getChildren())
        out << QStringLiteral("%1|%2|%3")
                   .arg(board->getNodeName())
                   .arg(board->getNodeType())
                   .arg(board->getChildren().size());
    return out;
}

void QLogDialog::rebuildKeepingChoice()
{
    QTreeWidget *tree = ui->treeWidget;
    QTreeWidget *list = ui->listWidget;
    // The choice by board and channel position and by parameter name.
    QVector<QVector<bool>> chosen;
    for (int b = 0; b < tree->topLevelItemCount(); ++b) {
        QVector<bool> channels;
        for (int c = 0; c < tree->topLevelItem(b)->childCount(); ++c)
            channels.append(tree->topLevelItem(b)->child(c)->flags() & Qt::ItemIsEnabled);
        chosen.append(channels);
    }
    QStringList selected;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected())
            selected << list->topLevelItem(i)->text(0);
    tree->clear();
    list->clear();
    populateTreeAndListWidget();
    for (int b = 0; b < tree->topLevelItemCount(); ++b) {
        QTreeWidgetItem *boardItem = tree->topLevelItem(b);
        bool any = false;
        for (int c = 0; c < boardItem->childCount(); ++c) {
            const bool on = b < chosen.size() && c < chosen[b].size() && chosen[b][c];
            QTreeWidgetItem *ch = boardItem->child(c);
            ch->setFlags(on ? ch->flags() | Qt::ItemIsEnabled : ch->flags() & ~Qt::ItemIsEnabled);
            any = any || on;
        }
        boardItem->setFlags(any ? boardItem->flags() | Qt::ItemIsEnabled
                                : boardItem->flags() & ~Qt::ItemIsEnabled);
    }
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        list->topLevelItem(i)->setSelected(
            selected.contains(list->topLevelItem(i)->text(0), Qt::CaseInsensitive));
}

void QLogDialog::treeAboutToChange(int slot)
{
    if (slot == KORUHVTreeChange::WholeTree)
        systemRemoved();
}

void QLogDialog::systemRemoved()
{
    if (!systemNode)
        return;
    const QString name = systemNode->getNodeName();
    systemNode = nullptr;
    // Not modal: the removal goes on while the operator reads it.
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("LUMO2020"),
                                QStringLiteral("%1 was disconnected while its logging choice was open.\n"
                                               "The dialog was closed; nothing was changed.")
                                    .arg(name),
                                QMessageBox::Ok);
    box->setObjectName(QStringLiteral("logDialogSystemGoneBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    reject();
}

void QLogDialog::okButtonClicked()
{
    if (!systemNode)
        return;
    QTreeWidget *tree = ui->treeWidget;
    QTreeWidget *list = ui->listWidget;
    // Boards inserted or removed since the list was built: show them first,
    // with the choice kept, and let the operator confirm again.
    if (boardSignature() != shownBoards) {
        rebuildKeepingChoice();
        QMessageBox box(QMessageBox::Information, QStringLiteral("LUMO2020"),
                        QStringLiteral("The boards of %1 changed while this dialog was open.\n"
                                       "The list now shows them; check the choice and press OK again.")
                            .arg(systemNode->getNodeName()),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("logDialogBoardsChangedBox"));
        box.exec();
        return;
    }
    auto selectedInList = [list](const QString &name, bool *found) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0).compare(name, Qt::CaseInsensitive) == 0) {
                *found = true;
                return list->topLevelItem(i)->isSelected();
            }
        *found = false;
        return false;
    };

    // The decision is made on the choice alone; nodes change on acceptance.
    QVector<QVector<int>> chosen;
    int chosenCount = 0;
    for (int b = 0; b < tree->topLevelItemCount(); ++b) {
        QVector<int> channels;
        QTreeWidgetItem *boardItem = tree->topLevelItem(b);
        for (int c = 0; c < boardItem->childCount(); ++c)
            if (boardItem->child(c)->flags() & Qt::ItemIsEnabled)
                channels.append(c);
        chosenCount += int(channels.size());
        chosen.append(channels);
    }
    QVector<KORUHVNode *> toFlag;
    int sysFlagged = 0;
    for (KORUHVNode *p : systemNode->getParameters()) {
        bool found = false;
        if (selectedInList(p->getNodeName(), &found)) {
            toFlag.append(p);
            sysFlagged++;
        }
    }
    if (sysFlagged == 0 && chosenCount == 0) {
        errorMessageBox();
        return;
    }
    const QVector<KORUHVNode *> boards = systemNode->getChildren();
    if (boards.size() > tree->topLevelItemCount())
        return;
    int chFlagged = 0;
    for (int b = 0; b < chosen.size() && b < boards.size(); ++b) {
        const QVector<KORUHVNode *> channels = boards[b]->getChildren();
        for (int c : chosen[b]) {
            if (c >= channels.size())
                continue;
            for (KORUHVNode *p : channels[c]->getParameters()) {
                bool found = false;
                if (selectedInList(p->getNodeName(), &found)) {
                    toFlag.append(p);
                    chFlagged++;
                }
            }
        }
    }
    bool accept = false;
    if (chFlagged > 0 || chosenCount == 0)
        accept = true;
    else if (sysFlagged > 0)
        accept = warningMessageBox();
    else
        errorMessageBox();
    if (!accept)
        return;

    reset();
    for (KORUHVNode *p : toFlag)
        p->setHasLogEnabled(true);
    const QString name = logFileNameFromField(ui->fileLine->text(), QDir::homePath());
    if (!name.isEmpty())
        setLogFilename(name);
    QDialog::accept();
}

void QLogDialog::errorMessageBox()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("LUMO2020"),
                    QStringLiteral("Please select at least a channel and a parameter.\n"
                                   "Check if channels selected own parameters selected."),
                    QMessageBox::Ok);
    box.exec();
}

bool QLogDialog::warningMessageBox()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("LUMO2020"),
                    QStringLiteral("Some channels or channel parameters has been selected,\n"
                                   "but there are only system parameters in list.\n"
                                   "Do you want to continue anyway?"),
                    QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
