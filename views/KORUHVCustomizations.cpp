#include "KORUHVCustomizations.h"

#include "KORUHVFileChooser.h"
#include "KORUHVNode.h"
#include "KORUHVUtils.h"
#include "QConfigureViewDialog.h"
#include "QCreateSetGroupsDialog.h"
#include "QCustomViewDialog.h"
#include "QLoadCustDialog.h"
#include "QSaveCustDialog.h"
#include "QSetGroupValueDialog.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

using namespace KORUHVCustomizationRules;

KORUHVCustomizations::KORUHVCustomizations(KORUHVCustomizationHost *host, QMenu *groupsMenu, QObject *parent)
    : QObject(parent), m_host(host), menuViewGroups(groupsMenu)
{
    if (menuViewGroups)
        menuViewGroups->setEnabled(!menuViewGroups->actions().isEmpty());
}

KORUHVCustomizations::~KORUHVCustomizations() = default;

QWidget *KORUHVCustomizations::dialogParent() const
{
    return m_host ? m_host->customizationDialogParent() : nullptr;
}

void KORUHVCustomizations::track(QDialog *dialog)
{
    openDialogs.removeAll(QPointer<QDialog>());
    openDialogs.append(dialog);
    m_lastDialog = dialog;
}

/* ---------------- set groups ---------------- */

QVector<KORUHVNode *> KORUHVCustomizations::mainSystemRoots() const
{
    QVector<KORUHVNode *> roots;
    for (const auto &s : m_host->systemsForCustomizations()) {
        if (s.isMainInterface && s.root)
            roots.append(s.root);
    }
    return roots;
}

QVector<KORUHVNode *> KORUHVCustomizations::allSystemRoots() const
{
    QVector<KORUHVNode *> roots;
    for (const auto &s : m_host->systemsForCustomizations()) {
        if (s.root)
            roots.append(s.root);
    }
    return roots;
}

void KORUHVCustomizations::createDialogForGroupSettings()
{
    auto *dialog = new QCreateSetGroupsDialog(int(groups.size()), mainSystemRoots(), {}, dialogParent(),
                                              QString(), this);
    track(dialog);
    dialog->show();
}

void KORUHVCustomizations::groupCreatedCallback(QVector<KORUHVNode *> nodes, QString name)
{
    if (nodes.isEmpty() || !menuViewGroups)
        return;
    groups.append(nodes);
    const QList<QAction *> actions = menuViewGroups->actions();
    const int n = int(actions.size());
    menuViewGroups->setEnabled(true);
    if (name.isEmpty()) {
        QStringList taken;
        for (QAction *a : actions)
            taken << a->text();
        name = nextDefaultGroupName(taken);
    }
    QAction *action = menuViewGroups->addAction(name);
    action->setObjectName(QString::number(n));
    connect(action, &QAction::triggered, this, &KORUHVCustomizations::createDialogToEditGroup);
}

void KORUHVCustomizations::createDialogToEditGroup()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    bool ok = false;
    const int index = action->objectName().toInt(&ok);
    if (!ok || index < 0 || index >= groups.size())
        return;
    QString param;
    for (KORUHVNode *n : groups[index]) {
        if (n && n->getNodeType() == NODE_CHANNEL_PARAM) {
            param = n->getNodeName();
            break;
        }
    }
    auto *dialog =
        new QSetGroupValueDialog(groups[index], param, index, action->text(), dialogParent(), this);
    track(dialog);
    dialog->show();
}

void KORUHVCustomizations::groupEditedCallback(QVector<KORUHVNode *> nodes, QString name, int index)
{
    if (!menuViewGroups || nodes.isEmpty())
        return;
    const QList<QAction *> actions = menuViewGroups->actions();
    if (index < 0 || index >= groups.size() || index >= actions.size())
        return;
    groups[index] = nodes;
    actions[index]->setText(name);
}

void KORUHVCustomizations::renumberGroupActions()
{
    if (!menuViewGroups)
        return;
    const QList<QAction *> actions = menuViewGroups->actions();
    for (int i = 0; i < actions.size(); ++i)
        actions[i]->setObjectName(QString::number(i));
    menuViewGroups->setEnabled(!actions.isEmpty());
}

void KORUHVCustomizations::deleteGroupCallback(int index)
{
    if (index < 0 || index >= groups.size())
        return;
    // The group is known by its menu action, not by its members: two groups
    // may hold the same members.
    QPointer<QAction> target = menuViewGroups && index < menuViewGroups->actions().size()
                                   ? menuViewGroups->actions()[index]
                                   : nullptr;
    if (!target)
        return;
    QMessageBox box(QMessageBox::Question, QStringLiteral("LUMO2020"),
                    QStringLiteral("You are deleting Group %0.").arg(index),
                    QMessageBox::Yes | QMessageBox::No, dialogParent());
    box.setInformativeText(QStringLiteral("Do you really want to delete this group?"));
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() != QMessageBox::Yes)
        return;
    // The question ran an event loop: a purge may have shrunk or moved the
    // group meanwhile; only the group that was asked about goes.
    if (!target || !menuViewGroups)
        return;
    const int now = int(menuViewGroups->actions().indexOf(target.data()));
    if (now < 0 || now >= groups.size())
        return;
    groups.remove(now);
    dropGroupActions({now});
}

void KORUHVCustomizations::dropGroupActions(const QVector<int> &removedHighestFirst)
{
    if (!menuViewGroups)
        return;
    for (int i : removedHighestFirst) {
        const QList<QAction *> actions = menuViewGroups->actions();
        if (i < actions.size()) {
            QAction *a = actions[i];
            menuViewGroups->removeAction(a);
            a->deleteLater();
        }
    }
    renumberGroupActions();
}

void KORUHVCustomizations::closeDialogsUsing(int sysHandle, int slot)
{
    const auto dialogs = openDialogs;
    for (const QPointer<QDialog> &d : dialogs) {
        if (!d)
            continue;
        auto *user = dynamic_cast<KORUHVNodeUsingDialog *>(d.data());
        if (user && user->usesNodesOf(sysHandle, slot))
            user->nodesGoing(sysHandle, slot);
    }
}

void KORUHVCustomizations::removeBoardFromGroups(int sysHandle, unsigned short slot)
{
    closeDialogsUsing(sysHandle, slot);
    QVector<int> removed;
    purgeGroups(groups, sysHandle, slot, &removed);
    if (!removed.isEmpty())
        dropGroupActions(removed);
}

void KORUHVCustomizations::removeNodesFromGroups(int sysHandle)
{
    closeDialogsUsing(sysHandle, -1);
    QVector<int> removed;
    purgeGroups(groups, sysHandle, -1, &removed);
    if (!removed.isEmpty())
        dropGroupActions(removed);
}

/* ---------------- saved customizations ---------------- */

void KORUHVCustomizations::saveCustomizedViews()
{
    QVector<KORUHVNode *> roots;
    for (const auto &s : m_host->systemsForCustomizations())
        roots.append(s.root);
    auto *dialog = new QSaveCustDialog(dialogParent(), roots, this);
    track(dialog);
    dialog->exec();
}

void KORUHVCustomizations::saveCustomizedViewCallback(QVector<bool> selected, bool withCustomView)
{
    const auto systems = m_host->systemsForCustomizations();
    if (selected.size() != systems.size())
        return;
    const QString path =
        KORUHVChooseFile(dialogParent(), true,
                         QStringLiteral("%0 (*.%1)")
                             .arg(QStringLiteral("KORU System Configuration File"), QStringLiteral("ksc")));
    if (path.isEmpty())
        return;
    QStringList notWritten;
    if (!KORUHVUtils::KORUHVSaveMainConfigurationFile(path))
        notWritten << KORUHVUtils::KORUHVMainConfigurationFilePath(path);
    const QString folder = createSubdirAtPath(path);
    // The systems list is read again: the file dialog ran an event loop.
    const auto now = m_host->systemsForCustomizations();
    if (now.size() == systems.size()) {
        for (int i = 0; i < now.size(); ++i) {
            KORUHVNode *root = now[i].root;
            if (!root || root != systems[i].root)
                continue;
            if (!selected[i] && !withCustomView)
                continue;
            if (!KORUHVUtils::KORUHVSaveSingleConfigurationFile(folder, root, selected[i], withCustomView))
                notWritten << KORUHVUtils::KORUHVSingleConfigurationFilePath(folder, root->getNodeName(),
                                                                             root->getInitParam());
        }
    } else {
        notWritten << QStringLiteral("%0 (the connected systems changed)").arg(folder);
    }
    if (!notWritten.isEmpty()) {
        QMessageBox::warning(dialogParent(), QStringLiteral("LUMO2020"),
                             QStringLiteral("These files were not written:\n%0").arg(notWritten.join('\n')));
    }
}

QString KORUHVCustomizations::createSubdirAtPath(QString path)
{
    const QString folder = KORUHVUtils::KORUHVConfigurationFolderPath(path);
    // An existing folder stays; a failure shows in the per-system saves.
    QDir().mkpath(folder);
    return folder;
}

void KORUHVCustomizations::loadCustomizedViews()
{
    const QString file =
        KORUHVChooseFile(dialogParent(), false, QStringLiteral("KORU System Configuration Files (*.ksc)"));
    if (file.isEmpty())
        return;
    auto *dialog = new QLoadCustDialog(dialogParent(), file, this);
    track(dialog);
    dialog->exec();
}

int KORUHVCustomizations::countMainSystemsConnected() const
{
    int n = 0;
    for (const auto &s : m_host->systemsForCustomizations()) {
        if (s.isMainInterface && s.root && s.root->getNodeType() == NODE_SYSTEM)
            ++n;
    }
    return n;
}

int KORUHVCustomizations::checkLoadingSystemIfConnected(QString initParam) const
{
    const auto systems = m_host->systemsForCustomizations();
    for (int i = 0; i < systems.size(); ++i) {
        if (systems[i].root && systems[i].root->getInitParam() == initParam)
            return i;
    }
    return -1;
}

void KORUHVCustomizations::setNewConfigurationToSystem(int index, QMultiHash<QString, QVariant> *hash)
{
    const auto systems = m_host->systemsForCustomizations();
    if (!hash || index < 0 || index >= systems.size() || !systems[index].root)
        return;
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(systems[index].root, hash);
}

void KORUHVCustomizations::loadCustomizedViewCallback(QVector<QMultiHash<QString, QVariant> *> systems,
                                                      QVector<QString> users, QVector<QString> passwords,
                                                      bool withCustomView)
{
    if (systems.size() != users.size() || systems.size() != passwords.size()) {
        qDeleteAll(systems);
        return;
    }
    bool newlyConnected = false;
    for (int i = 0; i < systems.size(); ++i) {
        QMultiHash<QString, QVariant> *hash = systems[i];
        if (!hash)
            continue;
        const LoadRow row = loadRowFromHash(*hash);
        if (row.isCustomView || !row.usable)
            continue;
        const int index = checkLoadingSystemIfConnected(row.initParam);
        if (index >= 0) {
            setNewConfigurationToSystem(index, hash);
            m_host->reapplyCustomTableMode(index);
            continue;
        }
        if (countMainSystemsConnected() >= 4)
            continue;
        const int before = int(m_host->systemsForCustomizations().size());
        m_host->connectForCustomizations(row.psType, row.connType, row.initParam, row.name, users[i],
                                         passwords[i]);
        const auto after = m_host->systemsForCustomizations();
        if (after.size() > before && after.last().root &&
            after.last().root->getInitParam() == row.initParam) {
            const int last = int(after.size()) - 1;
            setNewConfigurationToSystem(last, hash);
            m_host->reapplyCustomTableMode(last);
            newlyConnected = true;
        }
    }
    if (withCustomView) {
        const int cv = hasCustomView();
        if (cv < 0) {
            customViewCreationDialogCallback();
        } else {
            if (newlyConnected)
                refreshCustomViewMembers(cv);
            setHeadersVisibleCallback(cv);
        }
    }
    qDeleteAll(systems);
}

/* ---------------- table configuration ---------------- */

void KORUHVCustomizations::createConfigureTableDialog(int widgetIndex)
{
    // The box sends its widget index; the interface is the main one of that
    // index (positions differ from it behind further W38XX boards).
    const auto systems = m_host->systemsForCustomizations();
    for (int i = 0; i < systems.size(); ++i) {
        const auto &s = systems[i];
        if (s.isMainInterface && !s.isCustomView && s.widgetIndex == widgetIndex && s.root &&
            s.root->getNodeType() == NODE_SYSTEM) {
            auto *dialog = new QConfigureViewDialog(s.root, i, dialogParent(), this);
            track(dialog);
            dialog->show();
            return;
        }
    }
}

void KORUHVCustomizations::setHeadersVisibleCallback(int index)
{
    if (index < 0 || index >= m_host->systemsForCustomizations().size())
        return;
    if (!m_host->isTableInCustomMode(index))
        return;
    m_host->reapplyCustomTableMode(index);
}

void KORUHVCustomizations::configureViewAccepted(KORUHVNode *systemNode)
{
    const auto systems = m_host->systemsForCustomizations();
    for (int i = 0; i < systems.size(); ++i) {
        if (systems[i].root == systemNode) {
            setHeadersVisibleCallback(i);
            return;
        }
    }
}

/* ---------------- custom view ---------------- */

int KORUHVCustomizations::hasCustomView() const
{
    const auto systems = m_host->systemsForCustomizations();
    for (int i = 0; i < systems.size(); ++i) {
        if (systems[i].isCustomView)
            return i;
    }
    return -1;
}

QVector<KORUHVNode *> KORUHVCustomizations::customViewMemberRoots() const
{
    QVector<KORUHVNode *> roots;
    for (const auto &s : m_host->systemsForCustomizations()) {
        if (s.isMainInterface && !s.isCustomView && s.root && s.root->getNodeType() == NODE_SYSTEM)
            roots.append(s.root);
    }
    return roots;
}

void KORUHVCustomizations::createDialogForCustomView()
{
    auto *dialog = new QCustomViewDialog(this, customViewMemberRoots(), dialogParent());
    dialog->setModal(true);
    track(dialog);
    dialog->show();
}

void KORUHVCustomizations::customViewDialogCallback()
{
    const int cv = hasCustomView();
    if (cv < 0) {
        customViewCreationDialogCallback();
        return;
    }
    // Systems connected after creation belong in the view too.
    refreshCustomViewMembers(cv);
    setHeadersVisibleCallback(cv);
}

void KORUHVCustomizations::refreshCustomViewMembers(int cv)
{
    const auto systems = m_host->systemsForCustomizations();
    if (cv < 0 || cv >= systems.size() || !systems[cv].root)
        return;
    KORUHVNode *root = systems[cv].root;
    const QVector<KORUHVNode *> members = customViewMemberRoots();
    if (root->getChildren() == members)
        return;
    while (!root->getChildren().isEmpty())
        root->removeChildNode(int(root->getChildren().size()) - 1);
    for (KORUHVNode *m : members)
        root->addChildNode(m);
    m_host->rebuildTable(cv);
}

void KORUHVCustomizations::customViewCreationDialogCallback()
{
    const auto systems = m_host->systemsForCustomizations();
    if (systems.isEmpty() || hasCustomView() >= 0)
        return;
    int mains = 0;
    for (const auto &s : systems) {
        if (s.isMainInterface)
            ++mains;
    }
    auto *root = new KORUHVNode();
    root->KORUHVPrepareNode(QStringLiteral("customView"), NODE_GROUP, -1, -1, QString(), QString(),
                            QString());
    root->setConnectionStatus(CONN_OK);
    for (KORUHVNode *m : customViewMemberRoots())
        root->addChildNode(m);
    m_host->addCustomViewInterface(root, mains);
}

void KORUHVCustomizations::removeSystemFromCustomView(int index)
{
    const auto systems = m_host->systemsForCustomizations();
    const int cv = hasCustomView();
    if (cv < 0 || index < 0 || index >= systems.size() || index == cv)
        return;
    // The custom view dialog lists every system: it closes unwritten.
    for (const QPointer<QDialog> &d : openDialogs) {
        if (auto *c = qobject_cast<QCustomViewDialog *>(d.data()))
            c->dropNodesAndClose();
    }
    KORUHVNode *root = systems[cv].root;
    const int position = childPosition(root, systems[index].root);
    if (position < 0)
        return;
    root->removeChildNode(position);
    m_host->rebuildTable(cv);
    m_host->reapplyCustomTableMode(cv);
}
