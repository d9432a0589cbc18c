#include "QConfigureViewDialog.h"

#include "KORUHVNode.h"
#include "KORUHVParameterChooser.h"
#include "ViewChoiceForms.h"
#include "ViewChoiceWalk.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

using viewchoice::Skip;
using viewchoice::View;

namespace {
// The Custom mode's buttons and columns leave the group boards out; its
// parameter choice reaches every board's parameters.
constexpr Skip kChoiceSkip{false, true};
constexpr Skip kApplySkip{false, false};
} // namespace

void KORUHVSetChoiceItemShown(QTreeWidgetItem *item, bool shown, bool dragEnabled)
{
    Qt::ItemFlags flags = Qt::ItemIsSelectable;
    if (dragEnabled)
        flags |= Qt::ItemIsDragEnabled;
    if (shown)
        flags |= Qt::ItemIsEnabled;
    item->setFlags(flags);
    item->setCheckState(0, shown ? Qt::Checked : Qt::Unchecked);
    QFont f = item->font(1);
    f.setWeight(shown ? QFont::Bold : QFont::Normal);
    item->setFont(1, f);
}

bool KORUHVChoiceItemShown(const QTreeWidgetItem *item)
{
    return item->flags().testFlag(Qt::ItemIsEnabled);
}

KORUHVNode *QConfigureViewDialog::nodeOfItem(const QTreeWidgetItem *item)
{
    return viewchoice::nodeOf(item);
}

QVector<KORUHVNode *> QConfigureViewDialog::systems() const
{
    return systemNode ? QVector<KORUHVNode *>{systemNode} : QVector<KORUHVNode *>{};
}

QConfigureViewDialog::QConfigureViewDialog(KORUHVNode *system, int index, QWidget *parent,
                                           KORUHVCustomizations *controller)
    : QDialog(parent), controller(controller), systemNode(system), systemIndex(index)
{
    const viewchoice::ChoiceFrame frame =
        viewchoice::buildChoiceFrame(this, "QConfigureViewDialog", QSize(670, 618), false);
    tabWidget = frame.tabs;
    buttonBox = frame.buttons;
    QWidget *channelsTab = frame.channelsTab;
    auto *label = new QLabel(QStringLiteral("Check/uncheck channels you want to show/hide:"), channelsTab);
    label->setMargin(10);
    frame.channelsLayout->addWidget(label);
    treeSource = new QTreeWidget(channelsTab);
    treeSource->setObjectName(QStringLiteral("treeSource"));
    treeSource->setEditTriggers(QAbstractItemView::SelectedClicked);
    treeSource->setDragEnabled(true);
    treeSource->setDragDropMode(QAbstractItemView::InternalMove);
    treeSource->setDefaultDropAction(Qt::MoveAction);
    treeSource->setSelectionMode(QAbstractItemView::SingleSelection);
    treeSource->header()->hide();
    // The check column only as wide as its mark, so names stand beside it.
    treeSource->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    frame.channelsLayout->addWidget(treeSource);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    initializeChannelsChoice();
    initializeParametersChoice();
    tabWidget->setCurrentIndex(0);
    setWindowTitle(QStringLiteral("Configure %0").arg(systemNode ? systemNode->getNodeName() : QString()));
    treeSource->setExpandsOnDoubleClick(false);
    connect(treeSource, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item, int) { changeItemVisibility(item); });
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QConfigureViewDialog::clickedOkButton);
}

QConfigureViewDialog::~QConfigureViewDialog()
{
    delete preview;
}

void QConfigureViewDialog::initializeChannelsChoice()
{
    viewchoice::styleChoiceTree(treeSource);
    treeSource->setIconSize(QSize(32, 32));
    treeSource->setColumnCount(3);
    treeSource->setHeaderLabels({QStringLiteral("1"), QStringLiteral("2"), QString()});
    treeSource->setColumnHidden(2, true);
    if (!systemNode)
        return;
    for (KORUHVNode *board : systemNode->getChildren()) {
        auto *boardItem = new QTreeWidgetItem();
        boardItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/modulo.png")));
        boardItem->setText(1, board->getNodeName());
        boardItem->setText(2, QString::asprintf("%02d", board->getVisualIndex()));
        viewchoice::keepNode(boardItem, board);
        KORUHVSetChoiceItemShown(boardItem, board->isNodeEnabled(), true);
        for (KORUHVNode *channel : board->getChildren()) {
            auto *channelItem = new QTreeWidgetItem(boardItem);
            channelItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/canale.png")));
            channelItem->setText(1, channel->getNodeName());
            viewchoice::keepNode(channelItem, channel);
            KORUHVSetChoiceItemShown(channelItem, channel->isNodeEnabled());
        }
        treeSource->addTopLevelItem(boardItem);
        if (board->getNodeType() == NODE_GROUP)
            boardItem->setHidden(true);
    }
    treeSource->sortItems(2, Qt::AscendingOrder);
}

void QConfigureViewDialog::initializeParametersChoice()
{
    QWidget *tab = tabWidget->widget(1);
    QVBoxLayout *layout = viewchoice::parameterPageHead(tab);
    preview = new QTableWidget(this);
    chooser = new KORUHVParameterChooser(preview, QStringLiteral("configParamButton"), this);
    QHBoxLayout *rowLayout = nullptr;
    int k = 0;
    viewchoice::addChooserButtons(systems(), kChoiceSkip, *chooser, View::Table, [&](QPushButton *button) {
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        if (k % 3 == 0) {
            if (rowLayout)
                rowLayout->addStretch();
            auto *row = new QWidget(tab);
            row->setMaximumHeight(50);
            rowLayout = new QHBoxLayout(row);
            rowLayout->setSpacing(0);
            rowLayout->setContentsMargins(0, 0, 0, 0);
            layout->addWidget(row);
        }
        button->setParent(tab);
        rowLayout->addWidget(button);
        ++k;
    });
    if (rowLayout)
        rowLayout->addStretch();
    moveColumnsWithIndexes();
    viewchoice::parameterPageFoot(layout, tab, preview, 30);
}

void QConfigureViewDialog::moveColumnsWithIndexes()
{
    viewchoice::moveChooserColumns(systems(), kChoiceSkip, *chooser, View::Table);
}

void QConfigureViewDialog::changeItemVisibility(QTreeWidgetItem *currentItem)
{
    if (!currentItem)
        return;
    const bool show = !KORUHVChoiceItemShown(currentItem);
    const bool isBoard = currentItem->parent() == nullptr;
    KORUHVSetChoiceItemShown(currentItem, show, isBoard);
    for (int i = 0; i < currentItem->childCount(); ++i)
        KORUHVSetChoiceItemShown(currentItem->child(i), show);
    if (show && currentItem->parent())
        KORUHVSetChoiceItemShown(currentItem->parent(), true, true);
    currentItem->setSelected(false);
}

void QConfigureViewDialog::changeVisibilityInPreview()
{
    chooser->toggleFromButton();
}

void QConfigureViewDialog::clickedOkButton()
{
    const bool channel = viewchoice::anyChannelChosen(treeSource, 1);
    const bool parameter = chooser->anyShown();
    const QString problem = viewchoice::choiceProblem(channel, parameter);
    if (!problem.isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("LUMO2020"), problem, QMessageBox::Ok);
        return;
    }
    setBoardIndexesAndChannelsVisibility();
    setParametersVisibility();
    if (controller)
        controller->configureViewAccepted(systemNode);
    close();
}

void QConfigureViewDialog::setBoardIndexesAndChannelsVisibility()
{
    int counter = 0;
    for (int i = 0; i < treeSource->topLevelItemCount(); ++i) {
        QTreeWidgetItem *boardItem = treeSource->topLevelItem(i);
        if (boardItem->isHidden())
            continue;
        KORUHVNode *board = nodeOfItem(boardItem);
        if (!board)
            continue;
        board->setNodeEnabled(KORUHVChoiceItemShown(boardItem));
        board->setVisualIndex(i);
        for (int c = 0; c < boardItem->childCount(); ++c) {
            KORUHVNode *channel = nodeOfItem(boardItem->child(c));
            if (!channel)
                continue;
            channel->setVisualIndex(counter++);
            channel->setNodeEnabled(KORUHVChoiceItemShown(boardItem->child(c)));
        }
    }
}

void QConfigureViewDialog::setParametersVisibility()
{
    viewchoice::applyChooser(systems(), kApplySkip, *chooser, View::Table);
}

bool QConfigureViewDialog::usesNodesOf(int sysHandle, int) const
{
    // A board change renumbers nothing here, but its items point at it.
    return systemNode && systemNode->getSysHandle() == sysHandle;
}

void QConfigureViewDialog::dropNodesAndClose()
{
    systemNode = nullptr;
    treeSource->clear();
    close();
}
