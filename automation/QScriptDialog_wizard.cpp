// The action wizard of the script dialog: lines of WAIT or SET actions built
// from the system's tree, each turned into one action text by "Complete".
// The widgets of a line are found again by object name (their role); the
// layout positions only order them.
#include "QScriptDialog.h"

#include "KORUHVEditStyles.h"
#include "KORUHVNode.h"
#include "KORUHVUtils.h"
#include "KORUHVWidgetItem.h"
#include "QCustomSpinBox.h"
#include "Ui_QScriptDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <climits>

namespace {

const char *const kindBoxName = "actionKindBox";
const char *const parameterBoxName = "parameterBox";
const char *const channelModeBoxName = "channelModeBox";
const char *const waitTimeBoxName = "waitTimeBox";
const char *const valueItemName = "valueItem";

QPushButton *okButtonOf(QDialog *wizard)
{
    if (!wizard)
        return nullptr;
    auto *box = wizard->findChild<QDialogButtonBox *>(QStringLiteral("wizardButtonBox"));
    return box ? box->button(QDialogButtonBox::Ok) : nullptr;
}

template <typename T> T *lineChild(QHBoxLayout *line, const char *name)
{
    if (!line || !line->parentWidget())
        return nullptr;
    return line->parentWidget()->findChild<T *>(QString::fromLatin1(name));
}

bool isEmptySlot(KORUHVNode *slot)
{
    return !slot || slot->getNodeType() == NODE_GROUP;
}

/* Shows a refused value as the value editors show refused numbers: the red
 * look and the reason in the tool tip, until the next edit of the field. */
void refuseInField(QWidget *field, const QString &why)
{
    auto *edit = qobject_cast<QLineEdit *>(field);
    if (!edit)
        return;
    const char *const before = "sheetBeforeRefusal";
    if (!edit->property("refusalWatched").toBool()) {
        edit->setProperty("refusalWatched", true);
        QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, before] {
            if (!edit->property(before).isValid())
                return;
            edit->setStyleSheet(edit->property(before).toString());
            edit->setProperty(before, QVariant());
            edit->setToolTip(QString());
            QToolTip::hideText();
        });
    }
    if (!edit->property(before).isValid())
        edit->setProperty(before, edit->styleSheet());
    edit->setStyleSheet(edit->property(before).toString() + QLatin1Char(' ') +
                        koruviews::refusedStyleSheet());
    edit->setToolTip(why);
    QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), why, edit);
}

} // namespace

bool QScriptDialog::lockWizardButtons()
{
    if (!wizardDialog)
        return false;
    QPushButton *add = nullptr, *rem = nullptr, *clear = nullptr;
    for (QPushButton *b : wizardDialog->findChildren<QPushButton *>()) {
        if (b->objectName() == QLatin1String("addButton"))
            add = b;
        else if (b->objectName() == QLatin1String("remButton"))
            rem = b;
        else if (b->objectName() == QLatin1String("clearButton"))
            clear = b;
    }
    if (!add || !rem || !clear)
        return false;
    add->setEnabled(false);
    rem->setEnabled(false);
    clear->setEnabled(false);
    if (QPushButton *ok = okButtonOf(wizardDialog))
        ok->setEnabled(false);
    if (completeButton)
        completeButton->setEnabled(false);
    return true;
}

void QScriptDialog::removeLineItemsDownTo(int from, int to)
{
    if (!actionLineLayout)
        return;
    for (int i = from; i >= to; --i) {
        QLayoutItem *item = actionLineLayout->takeAt(i);
        if (!item)
            continue;
        if (QWidget *w = item->widget()) {
            // Out of the line at once (lookups by name no longer find it),
            // deleted later: it may be the sender of the running slot.
            w->hide();
            w->setParent(nullptr);
            w->deleteLater();
        }
        delete item;
    }
}

void QScriptDialog::dropChannelChooser()
{
    if (!channelTree)
        return;
    QWidget *win = channelTree->window();
    if (win != channelTree) {
        win->hide();
        win->deleteLater();
    } else {
        channelTree->deleteLater();
    }
    channelTree = nullptr;
}

void QScriptDialog::createWizardDialog()
{
    auto *wizard = new QDialog(this);
    wizard->setAttribute(Qt::WA_DeleteOnClose);
    wizard->setObjectName(QStringLiteral("wizardDialog"));
    wizard->setWindowTitle(QStringLiteral("Action Wizard"));
    wizardDialog = wizard;
    wizard->setGeometry(x() + 50, y() + 50, 900, 450);

    auto *layout = new QVBoxLayout(wizard);
    auto *row = new QWidget(wizard);
    auto *rowLayout = new QHBoxLayout(row);
    auto *add = new QPushButton(QStringLiteral("Add Action"), row);
    add->setObjectName(QStringLiteral("addButton"));
    auto *rem = new QPushButton(QStringLiteral("Rem Action"), row);
    rem->setObjectName(QStringLiteral("remButton"));
    auto *clear = new QPushButton(QStringLiteral("Clear Actions"), row);
    clear->setObjectName(QStringLiteral("clearButton"));
    rowLayout->addWidget(add);
    rowLayout->addWidget(rem);
    rowLayout->addSpacing(10);
    rowLayout->addWidget(clear);
    rowLayout->addStretch();
    layout->addWidget(row);

    auto *box = new QGroupBox(QStringLiteral("Actions"), wizard);
    box->setObjectName(QStringLiteral("actBox"));
    box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    auto *boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->setSpacing(2);
    boxLayout->addItem(new QSpacerItem(10, 40, QSizePolicy::Fixed, QSizePolicy::Expanding));
    layout->addWidget(box);

    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Discard, Qt::Horizontal, wizard);
    buttons->setObjectName(QStringLiteral("wizardButtonBox"));
    layout->addWidget(buttons);

    connect(add, &QPushButton::clicked, this, &QScriptDialog::addNewLine);
    connect(rem, &QPushButton::clicked, this, &QScriptDialog::removeLine);
    connect(clear, &QPushButton::clicked, this, &QScriptDialog::removeAllLines);
    connect(buttons->button(QDialogButtonBox::Discard), &QPushButton::clicked, wizard, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this,
            &QScriptDialog::clearOldScriptWarning);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(false);

    wizardActions.clear();
    actionLineLayout = nullptr;

    const int result = wizard->exec(); // deletes the window (delete on close)
    if (result == QDialog::Accepted) {
        // One paragraph per line, as plain text: a value such as <b>x</b>
        // is a name, not markup.
        actionList = wizardActions;
        ui->actionsEdit->setPlainText(wizardActions.join(QLatin1Char('\n')));
    }
    dropChannelChooser();
    wizardDialog = nullptr;
    actionLineLayout = nullptr;
    completeButton = nullptr;
    cancelButton = nullptr;
}

void QScriptDialog::addNewLine()
{
    actionText.clear();
    paramName.clear();
    parameterNode = nullptr;
    if (!wizardDialog)
        return;
    auto *box = wizardDialog->findChild<QGroupBox *>(QStringLiteral("actBox"));
    auto *boxLayout = box ? qobject_cast<QVBoxLayout *>(box->layout()) : nullptr;
    if (!boxLayout || !lockWizardButtons())
        return;

    auto *line = new QWidget(box);
    line->setObjectName(QStringLiteral("actionLineWidget"));
    auto *l = new QHBoxLayout(line);
    l->setObjectName(QStringLiteral("actionLine"));
    l->addWidget(new QLabel(QStringLiteral("Action"), line));
    auto *kind = new QComboBox(line);
    kind->setObjectName(QString::fromLatin1(kindBoxName));
    kind->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    kind->addItem(QStringLiteral("SET"));
    kind->addItem(QStringLiteral("WAIT"));
    kind->setCurrentIndex(-1);
    l->addWidget(kind);
    l->addStretch();
    auto *complete = new QPushButton(QStringLiteral("Complete"), line);
    complete->setObjectName(QStringLiteral("completeButton"));
    complete->setEnabled(false);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), line);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    l->addWidget(complete);
    l->addWidget(cancel);
    connect(complete, &QPushButton::clicked, this, &QScriptDialog::lineOk);
    connect(cancel, &QPushButton::clicked, this, &QScriptDialog::removeLine);
    connect(kind, &QComboBox::currentIndexChanged, this, &QScriptDialog::addOtherItemsIntoAction);

    boxLayout->insertWidget(boxLayout->count() - 1, line);
    actionLineLayout = l;
    completeButton = complete;
    cancelButton = cancel;
}

void QScriptDialog::addOtherItemsIntoAction(int index)
{
    if (index < 0 || !actionLineLayout || !lockWizardButtons())
        return;
    if (actionLineLayout->count() > 3) {
        actionText.clear();
        removeLineItemsDownTo(actionLineLayout->count() - 4, 2);
        dropChannelChooser();
    }
    if (index == 0) {
        addParametersChoice();
        actionText += QStringLiteral("set");
    } else {
        addWaitTimeChoice();
        actionText += QStringLiteral("wait");
    }
    actionText += QLatin1Char(' ');
}

int QScriptDialog::addWaitTimeChoice()
{
    auto *spin = new QCustomSpinBox(false, nullptr);
    spin->setObjectName(QString::fromLatin1(waitTimeBoxName));
    spin->setRange(1, INT_MAX);
    spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    spin->clear();
    auto *label = new QLabel(QStringLiteral("msec"));
    actionLineLayout->insertWidget(2, spin);
    actionLineLayout->insertWidget(3, label);
    connect(spin, &QSpinBox::valueChanged, this, &QScriptDialog::lineCompleted);
    return 0;
}

int QScriptDialog::addParametersChoice()
{
    auto *label = new QLabel(QStringLiteral("Parameter"));
    auto *box = new QComboBox();
    box->setObjectName(QString::fromLatin1(parameterBoxName));
    if (systemNode) {
        for (KORUHVNode *slot : systemNode->getChildren()) {
            if (isEmptySlot(slot))
                continue;
            for (KORUHVNode *channel : slot->getChildren())
                for (KORUHVNode *p : channel->getParameters()) {
                    const nodeAccessRights a = p->getAccessRights();
                    if (a == ACCESS_READ_ONLY || a == ACCESS_OTHER)
                        continue;
                    // MatchFixedString compares without regard to case.
                    if (box->findText(p->getNodeName(), Qt::MatchFixedString) < 0)
                        box->addItem(p->getNodeName());
                }
        }
    }
    actionLineLayout->insertWidget(2, label);
    actionLineLayout->insertWidget(3, box);
    if (paramName.isEmpty()) {
        box->setCurrentIndex(-1);
    } else {
        const int idx = box->findText(paramName, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (idx < 0) {
            box->setCurrentIndex(-1);
            return 1;
        }
        box->setCurrentIndex(idx);
    }
    connect(box, &QComboBox::currentIndexChanged, this, &QScriptDialog::addAvailableChannelsChoice);
    return 0;
}

void QScriptDialog::addAvailableChannelsChoice()
{
    if (!actionLineLayout || !lockWizardButtons())
        return;
    const QStringList parts = actionText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    actionText = parts.value(0) + QLatin1Char(' ');
    if (actionLineLayout->count() > 3) {
        removeLineItemsDownTo(actionLineLayout->count() - 4, 4);
        dropChannelChooser();
        auto *label = new QLabel(QStringLiteral("Boards/Channels"));
        auto *mode = new QComboBox();
        mode->setObjectName(QString::fromLatin1(channelModeBoxName));
        mode->addItem(QStringLiteral("All"));
        mode->addItem(QStringLiteral("Misc."));
        mode->setCurrentIndex(-1);
        actionLineLayout->insertWidget(4, label);
        actionLineLayout->insertWidget(5, mode);
        if (auto *box = qobject_cast<QComboBox *>(sender()))
            paramName = box->currentText();
        actionText += paramName + QLatin1Char(' ');
        connect(mode, &QComboBox::activated, this, &QScriptDialog::selectChannels);
    }
}

void QScriptDialog::selectChannels()
{
    if (!actionLineLayout || !lockWizardButtons())
        return;
    removeLineItemsDownTo(actionLineLayout->count() - 4, 6);
    const QStringList parts = actionText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    actionText = parts.value(0) + QLatin1Char(' ') + parts.value(1) + QLatin1Char(' ');
    auto *mode = lineChild<QComboBox>(actionLineLayout, channelModeBoxName);
    if (mode && mode->currentIndex() == 0)
        selectAllChannels();
    else
        selectMiscChannels();
    selectValueToSet();
}

void QScriptDialog::selectAllChannels()
{
    dropChannelChooser();
    if (auto *mode = lineChild<QComboBox>(actionLineLayout, channelModeBoxName))
        mode->setCurrentIndex(0);
    actionText += QStringLiteral("* ");
}

void QScriptDialog::selectMiscChannels()
{
    if (channelTree) {
        if (auto *win = qobject_cast<QDialog *>(channelTree->window()))
            win->exec();
        return;
    }
    auto *chooser = new QDialog(this);
    chooser->setObjectName(QStringLiteral("channelChooser"));
    chooser->setWindowTitle(QStringLiteral("Boards/Channels"));
    auto *layout = new QVBoxLayout(chooser);
    auto *tree = new QTreeWidget(chooser);
    tree->setObjectName(QStringLiteral("channelTree"));
    tree->setColumnCount(2);
    tree->header()->hide();
    layout->addWidget(tree);
    auto *row = new QHBoxLayout();
    row->addStretch();
    auto *close = new QPushButton(QStringLiteral("Close"), chooser);
    close->setObjectName(QStringLiteral("chooserCloseButton"));
    row->addWidget(close);
    layout->addLayout(row);
    channelTree = tree;
    connect(tree, &QTreeWidget::itemClicked, this, &QScriptDialog::changeItemVisibility);
    connect(close, &QPushButton::clicked, chooser, &QDialog::close);
    connect(chooser, &QDialog::accepted, this, &QScriptDialog::storeMiscChannels);
    connect(chooser, &QDialog::rejected, this, &QScriptDialog::storeMiscChannels);

    const QVector<KORUHVNode *> slotNodes = systemNode ? systemNode->getChildren() : QVector<KORUHVNode *>();
    for (KORUHVNode *slot : slotNodes) {
        auto *boardItem = new QTreeWidgetItem();
        boardItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/modulo.png")));
        boardItem->setText(1, slot->getNodeName());
        boardItem->setFlags(Qt::ItemIsSelectable);
        if (!isEmptySlot(slot)) {
            const QVector<KORUHVNode *> channels = slot->getChildren();
            for (int c = 0; c < channels.size(); ++c) {
                bool has = false;
                for (KORUHVNode *p : channels[c]->getParameters())
                    has = has || p->getNodeName().compare(paramName, Qt::CaseInsensitive) == 0;
                if (!has)
                    continue;
                auto *chItem = new QTreeWidgetItem(boardItem);
                chItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/canale.png")));
                chItem->setData(0, Qt::UserRole, c);
                chItem->setText(1, channels[c]->getNodeName());
                chItem->setFlags(Qt::ItemIsSelectable);
            }
        }
        tree->addTopLevelItem(boardItem);
        boardItem->setHidden(isEmptySlot(slot));
    }
    chooser->exec();
}

void QScriptDialog::changeItemVisibility(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const bool chosen = item->flags() & Qt::ItemIsEnabled;
    auto setChosen = [](QTreeWidgetItem *i, bool on) {
        i->setFlags(on ? (i->flags() | Qt::ItemIsEnabled) : (i->flags() & ~Qt::ItemIsEnabled));
    };
    setChosen(item, !chosen);
    for (int i = 0; i < item->childCount(); ++i)
        setChosen(item->child(i), !chosen);
    if (!chosen && item->parent())
        setChosen(item->parent(), true);
    item->setSelected(false);
}

void QScriptDialog::storeMiscChannels()
{
    if (!channelTree)
        return;
    for (int i = 0; i < channelTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *board = channelTree->topLevelItem(i);
        QStringList chosen;
        for (int c = 0; c < board->childCount(); ++c)
            if (board->child(c)->flags() & Qt::ItemIsEnabled)
                chosen.append(QString::number(board->child(c)->data(0, Qt::UserRole).toInt()));
        if (!chosen.isEmpty())
            actionText +=
                QString::number(i) + QLatin1Char('{') + chosen.join(QLatin1Char(',')) + QStringLiteral("}:");
    }
    if (actionText.endsWith(QLatin1Char(':')))
        actionText.chop(1);
    actionText += QLatin1Char(' ');
}

void QScriptDialog::selectValueToSet()
{
    if (!actionLineLayout || !lockWizardButtons())
        return;
    KORUHVNode *found = nullptr;
    if (systemNode) {
        for (KORUHVNode *slot : systemNode->getChildren()) {
            if (isEmptySlot(slot))
                continue;
            for (KORUHVNode *channel : slot->getChildren()) {
                for (KORUHVNode *p : channel->getParameters())
                    if (p->getNodeName().compare(paramName, Qt::CaseInsensitive) == 0) {
                        found = p;
                        break;
                    }
                if (found)
                    break;
            }
            if (found)
                break;
        }
    }
    if (!found)
        return;
    parameterNode = found;
    auto *label = new QLabel(QStringLiteral("Value"));
    auto *item = new KORUHVWidgetItem(this, parameterNode);
    item->setObjectName(QString::fromLatin1(valueItemName));
    item->createInternalWidget(parameterNode->getDataType(), parameterNode->getAccessRights(),
                               parameterNode->getExpUnitShortForm(), QVariant(QString()),
                               parameterNode->getNodeDecimals(), true);
    if (QWidget *w = item->getValueFieldWidget())
        w->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    item->setValueFieldAsDialogChild();
    actionLineLayout->insertWidget(6, label);
    actionLineLayout->insertWidget(7, item);
    connect(item, &KORUHVWidgetItem::valueFieldEdited, this, &QScriptDialog::lineCompleted);
}

void QScriptDialog::lineCompleted()
{
    if (!completeButton)
        return;
    // "Misc." without any chosen channel would give an action without a
    // channel list: Complete waits for a choice.
    auto *mode = lineChild<QComboBox>(actionLineLayout, channelModeBoxName);
    if (mode && mode->currentIndex() == 1 &&
        actionText.split(QLatin1Char(' '), Qt::SkipEmptyParts).size() < 3)
        return;
    completeButton->setEnabled(true);
}

void QScriptDialog::lineOk()
{
    if (!actionLineLayout)
        return;
    const int n = actionLineLayout->count();
    QString token;
    if (n == 7) {
        auto *spin = lineChild<QSpinBox>(actionLineLayout, waitTimeBoxName);
        if (!spin)
            return;
        token = QString::number(spin->value());
    } else if (n == 11) {
        auto *item = lineChild<KORUHVWidgetItem>(actionLineLayout, valueItemName);
        // A value outside the parameter's limits is refused in the field, as
        // in the table: it never becomes a script line.
        if (!item || !item->acceptTypedValue())
            return;
        const QVariant v = item->getDataInValueField();
        switch (item->getDataType()) {
        case DATA_INT32:
        case DATA_INT16:
            if (parameterNode && parameterNode->getParWrapperType() == WRAPPER_TYPE_BINARY) {
                // The node write reads decimal only: the hexadecimal text
                // shown becomes the decimal word.
                bool ok = false;
                const int word = KORUHVUtils::KORUHVConvertFromHexStringToBinary(v.toString(), &ok);
                if (!ok)
                    return;
                token = QString::number(quint32(word));
            } else {
                token = QString::number(v.toLongLong());
            }
            break;
        case DATA_UINT32:
        case DATA_UINT16:
            token = QString::number(v.toLongLong());
            break;
        case DATA_FLOAT:
            token = QString::number(v.toFloat(), 'g', 6);
            break;
        case DATA_STRING: {
            // A text is a word of the script as it is: what would cut it
            // into other words or actions, or what the check refuses for
            // the parameter, is refused in its field.
            token = v.toString();
            QString problem = koruscript::valueTokenProblem(token);
            if (problem.isEmpty() && parameterNode)
                problem = koruscript::valueProblem(parameterNode, token);
            if (!problem.isEmpty()) {
                refuseInField(item->getValueFieldWidget(), problem + QStringLiteral(": nothing added"));
                return;
            }
            break;
        }
        case DATA_ONOFF:
            token = KORUHVUtils::KORUHVConvertPropertyBoolFromString(parameterNode, v.toString())
                        ? QStringLiteral("1")
                        : QStringLiteral("0");
            break;
        case DATA_ENUM: {
            // The index of the chosen text.
            auto *box = qobject_cast<QComboBox *>(item->getValueFieldWidget());
            if (!box || box->currentIndex() < 0)
                return;
            token = QString::number(box->currentIndex());
            break;
        }
        default:
            return;
        }
    } else {
        return;
    }
    actionText += token + QLatin1Char(';');

    if (wizardDialog) {
        for (QPushButton *b : wizardDialog->findChildren<QPushButton *>())
            b->setEnabled(true);
        if (QPushButton *ok = okButtonOf(wizardDialog))
            ok->setEnabled(true);
    }
    removeLineItemsDownTo(n - 1, n - 3); // Cancel, Complete and the stretch before them
    completeButton = nullptr;
    cancelButton = nullptr;
    dropChannelChooser();
    for (int i = 0; i < actionLineLayout->count(); ++i)
        if (QWidget *w = actionLineLayout->itemAt(i)->widget())
            w->setEnabled(false);
    actionLineLayout->addStretch();
    wizardActions.append(actionText);
    actionText.clear();
}

void QScriptDialog::removeLine()
{
    if (!actionLineLayout)
        return;
    QHBoxLayout *l = actionLineLayout;
    QWidget *line = l->parentWidget();
    const bool editing = completeButton && completeButton->parentWidget() == line;
    while (l->count() > 0) {
        QLayoutItem *item = l->takeAt(0);
        if (QWidget *w = item->widget()) {
            w->hide();
            w->setParent(nullptr);
            w->deleteLater(); // the line's own Cancel may be the sender
        }
        delete item;
    }
    l->setObjectName(QString());
    if (line) {
        line->hide();
        line->setParent(nullptr);
        line->deleteLater();
    }
    dropChannelChooser();
    completeButton = nullptr;
    cancelButton = nullptr;
    if (!editing && !wizardActions.isEmpty())
        wizardActions.removeLast();
    actionText.clear();
    paramName.clear();
    parameterNode = nullptr;
    actionLineLayout = nullptr;

    if (!wizardDialog)
        return;
    auto *box = wizardDialog->findChild<QGroupBox *>(QStringLiteral("actBox"));
    auto *add = wizardDialog->findChild<QPushButton *>(QStringLiteral("addButton"));
    auto *rem = wizardDialog->findChild<QPushButton *>(QStringLiteral("remButton"));
    auto *clear = wizardDialog->findChild<QPushButton *>(QStringLiteral("clearButton"));
    if (!box || !add || !rem || !clear)
        return;
    const QList<QHBoxLayout *> lines = box->findChildren<QHBoxLayout *>(QStringLiteral("actionLine"));
    const bool any = !lines.isEmpty();
    actionLineLayout = any ? lines.last() : nullptr;
    rem->setEnabled(any);
    clear->setEnabled(any);
    if (QPushButton *ok = okButtonOf(wizardDialog))
        ok->setEnabled(any);
    add->setEnabled(true);
}

void QScriptDialog::removeAllLines()
{
    while (actionLineLayout)
        removeLine();
}
