#include "QCustomViewDialog.h"

#include "KORUHVCustomizationRules.h"
#include "KORUHVNode.h"
#include "KORUHVParameterChooser.h"
#include "QConfigureViewDialog.h"
#include "ViewChoiceForms.h"
#include "ViewChoiceWalk.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

using namespace KORUHVCustomizationRules;

using viewchoice::keepNode;
using viewchoice::nodeOf;
using viewchoice::Skip;
using viewchoice::View;

namespace {
// Group systems and group boards have no buttons or columns of their own;
// the parameter choice still reaches the parameters of group boards.
constexpr Skip kChoiceSkip{true, true};
constexpr Skip kApplySkip{true, false};

void setShownDeep(QTreeWidgetItem *item, bool shown)
{
    KORUHVSetChoiceItemShown(item, shown);
    for (int i = 0; i < item->childCount(); ++i)
        setShownDeep(item->child(i), shown);
}
} // namespace

QCustomViewDialog::QCustomViewDialog(KORUHVCustomizations *controller, QVector<KORUHVNode *> systems,
                                     QWidget *parent)
    : QDialog(parent), systems(systems), controller(controller)
{
    const viewchoice::ChoiceFrame frame =
        viewchoice::buildChoiceFrame(this, "QCustomViewDialog", QSize(720, 546), true);
    setWindowTitle(QStringLiteral("Custom View Configuration"));
    tabWidget = frame.tabs;
    buttonBox = frame.buttons;
    QWidget *channelsTab = frame.channelsTab;
    treeWidget = new QTreeWidget(channelsTab);
    treeWidget->setObjectName(QStringLiteral("treeWidget"));
    treeWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeWidget->setSelectionMode(QAbstractItemView::ExtendedSelection);
    treeWidget->setAnimated(false);
    treeWidget->header()->hide();
    // The check column only as wide as its mark, so names stand beside it.
    treeWidget->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    treeWidget->setExpandsOnDoubleClick(false);
    treeWidget->setIconSize(QSize(24, 24));
    treeWidget->setColumnCount(2);
    frame.channelsLayout->addWidget(treeWidget);
    listWidget = new QTreeWidget(channelsTab);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listWidget->setDragEnabled(true);
    listWidget->setDragDropMode(QAbstractItemView::InternalMove);
    listWidget->setDefaultDropAction(Qt::MoveAction);
    listWidget->setUniformRowHeights(true);
    listWidget->setAllColumnsShowFocus(true);
    listWidget->setExpandsOnDoubleClick(false);
    listWidget->setRootIsDecorated(false);
    listWidget->setColumnCount(4);
    listWidget->setHeaderLabels(
        {QStringLiteral("Power Supply"), QStringLiteral("Board"), QStringLiteral("Channel"), QString()});
    listWidget->header()->setStretchLastSection(true);
    listWidget->setColumnHidden(3, true);
    listWidget->setStyleSheet(QStringLiteral("QTreeWidget::item{height: 24px;}"));
    frame.channelsLayout->addWidget(listWidget);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::close);
    if (systems.isEmpty())
        buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    fillTreeAndListWithChannels();
    initializeParametersChoice();
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QCustomViewDialog::clickedOkButton);
    connect(treeWidget, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item, int) { changeItemVisibility(item); });
    tabWidget->setCurrentIndex(0);
}

QCustomViewDialog::~QCustomViewDialog()
{
    delete preview;
}

void QCustomViewDialog::fillTreeAndListWithChannels()
{
    viewchoice::styleChoiceTree(treeWidget);
    QVector<std::pair<int, QTreeWidgetItem *>> rows;
    for (KORUHVNode *system : systems) {
        auto *systemItem = new QTreeWidgetItem();
        systemItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/sistema.png")));
        systemItem->setText(1, system->getNodeName());
        keepNode(systemItem, system);
        KORUHVSetChoiceItemShown(systemItem, system->isEnabledInCustomView());
        treeWidget->addTopLevelItem(systemItem);
        if (system->getNodeType() != NODE_GROUP) {
            for (KORUHVNode *board : system->getChildren()) {
                auto *boardItem = new QTreeWidgetItem(systemItem);
                boardItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/modulo.png")));
                boardItem->setText(1, customViewBoardLabel(board));
                keepNode(boardItem, board);
                KORUHVSetChoiceItemShown(boardItem, board->isEnabledInCustomView());
                bool allShown = true;
                for (KORUHVNode *channel : board->getChildren()) {
                    auto *channelItem = new QTreeWidgetItem(boardItem);
                    channelItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/canale.png")));
                    channelItem->setText(1, channel->getNodeName());
                    keepNode(channelItem, channel);
                    const bool shown = channel->isEnabledInCustomView();
                    KORUHVSetChoiceItemShown(channelItem, shown);
                    allShown = allShown && shown;
                    if (shown) {
                        auto *row = new QTreeWidgetItem();
                        row->setText(0, systemItem->text(1));
                        row->setText(1, boardKeyOfLabel(boardItem->text(1)));
                        row->setText(2, channelItem->text(1));
                        row->setData(3, Qt::DisplayRole, channel->getCustomViewVisualIndex());
                        keepNode(row, channel);
                        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
                        rows.append({channel->getCustomViewVisualIndex(), row});
                    }
                }
                if (allShown)
                    KORUHVSetChoiceItemShown(boardItem, true);
                if (board->getNodeType() == NODE_GROUP)
                    boardItem->setHidden(true);
            }
        }
        systemItem->setExpanded(true);
        if (system->getNodeType() == NODE_GROUP)
            systemItem->setHidden(true);
    }
    // Saved row order; rows without an index (-1) go last, in tree order.
    std::stable_sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
        const unsigned ka = unsigned(a.first), kb = unsigned(b.first);
        return ka < kb;
    });
    for (const auto &r : rows)
        listWidget->addTopLevelItem(r.second);
}

void QCustomViewDialog::initializeParametersChoice()
{
    QWidget *tab = tabWidget->widget(1);
    QVBoxLayout *layout = viewchoice::parameterPageHead(tab);
    layout->addSpacing(20);
    checkAllButton = new QPushButton(QStringLiteral(" Check all parameters "), tab);
    checkAllButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    connect(checkAllButton, &QPushButton::clicked, this, &QCustomViewDialog::checkAllParametersClicked);
    layout->addWidget(checkAllButton);
    layout->addSpacing(20);
    auto *grid = new QWidget(tab);
    auto *gridLayout = new QGridLayout(grid);
    gridLayout->setSpacing(0);
    layout->addWidget(grid);
    preview = new QTableWidget(this);
    chooser = new KORUHVParameterChooser(preview, QStringLiteral("parButt"), this);
    int k = 0;
    viewchoice::addChooserButtons(systems, kChoiceSkip, *chooser, View::CustomView, [&](QPushButton *button) {
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        button->setParent(grid);
        gridLayout->addWidget(button, k / 3, k % 3);
        ++k;
    });
    moveColumnsWithIndexes();
    viewchoice::parameterPageFoot(layout, tab, preview, 80);
}

void QCustomViewDialog::moveColumnsWithIndexes()
{
    viewchoice::moveChooserColumns(systems, kChoiceSkip, *chooser, View::CustomView);
}

void QCustomViewDialog::appendRow(QTreeWidgetItem *channelItem)
{
    KORUHVNode *channel = nodeOf(channelItem);
    for (int r = 0; r < listWidget->topLevelItemCount(); ++r) {
        if (nodeOf(listWidget->topLevelItem(r)) == channel)
            return;
    }
    QTreeWidgetItem *boardItem = channelItem->parent();
    QTreeWidgetItem *systemItem = boardItem->parent();
    auto *row = new QTreeWidgetItem();
    row->setText(0, systemItem->text(1));
    row->setText(1, boardKeyOfLabel(boardItem->text(1)));
    row->setText(2, channelItem->text(1));
    keepNode(row, channel);
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    listWidget->addTopLevelItem(row);
}

void QCustomViewDialog::addNodeToSelected(QTreeWidgetItem *item)
{
    if (!item->parent()) {
        for (int b = 0; b < item->childCount(); ++b)
            for (int c = 0; c < item->child(b)->childCount(); ++c)
                appendRow(item->child(b)->child(c));
    } else if (!item->parent()->parent()) {
        for (int c = 0; c < item->childCount(); ++c)
            appendRow(item->child(c));
        item->parent()->setFlags(item->parent()->flags() | Qt::ItemIsEnabled);
    } else {
        appendRow(item);
    }
}

void QCustomViewDialog::removeNodeFromSelected(QTreeWidgetItem *item)
{
    // Rows go by the node they stand for, not by the texts.
    QVector<KORUHVNode *> channels;
    if (!item->parent()) {
        for (int b = 0; b < item->childCount(); ++b)
            for (int c = 0; c < item->child(b)->childCount(); ++c)
                channels.append(nodeOf(item->child(b)->child(c)));
    } else if (!item->parent()->parent()) {
        for (int c = 0; c < item->childCount(); ++c)
            channels.append(nodeOf(item->child(c)));
    } else {
        channels.append(nodeOf(item));
        for (QTreeWidgetItem *up = item->parent(); up; up = up->parent())
            up->setFlags(up->flags() | Qt::ItemIsEnabled);
    }
    for (int r = listWidget->topLevelItemCount() - 1; r >= 0; --r) {
        if (channels.contains(nodeOf(listWidget->topLevelItem(r))))
            delete listWidget->takeTopLevelItem(r);
    }
}

void QCustomViewDialog::changeItemVisibility(QTreeWidgetItem *currentItem)
{
    if (!currentItem)
        return;
    if (KORUHVChoiceItemShown(currentItem)) {
        setShownDeep(currentItem, false);
        removeNodeFromSelected(currentItem);
    } else {
        setShownDeep(currentItem, true);
        for (QTreeWidgetItem *up = currentItem->parent(); up; up = up->parent())
            KORUHVSetChoiceItemShown(up, true);
        addNodeToSelected(currentItem);
    }
    currentItem->setSelected(false);
}

void QCustomViewDialog::changeVisibilityInPreview()
{
    chooser->toggleFromButton();
}

void QCustomViewDialog::checkAllParametersClicked()
{
    for (QPushButton *b : tabWidget->widget(1)->findChildren<QPushButton *>(QStringLiteral("parButt"))) {
        b->setProperty("chk", true);
        b->setStyleSheet(KORUHVParameterChooser::darkStyle());
    }
    chooser->showAll();
}

int QCustomViewDialog::checkAtLeastOneChannel()
{
    return viewchoice::anyChannelChosen(treeWidget, 2) ? 1 : 0;
}

int QCustomViewDialog::checkAtLeastOneParameter()
{
    return chooser->anyShown() ? 1 : 0;
}

void QCustomViewDialog::clickedOkButton()
{
    const bool channel = checkAtLeastOneChannel();
    const bool parameter = checkAtLeastOneParameter();
    const QString problem = viewchoice::choiceProblem(channel, parameter);
    if (!problem.isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("LUMO2020"), problem, QMessageBox::Ok);
        return;
    }
    enableNodesInCustomView();
    setVisualIndexToNodes();
    setVisibilityForParameters();
    QPointer<KORUHVCustomizations> c = controller;
    close();
    if (c)
        c->customViewDialogCallback();
}

void QCustomViewDialog::enableNodesInCustomView()
{
    std::function<void(QTreeWidgetItem *)> walk = [&](QTreeWidgetItem *item) {
        // Hidden items stand for empty slots, which a live insertion may
        // have replaced (and deleted) since the dialog opened.
        if (item->isHidden())
            return;
        if (KORUHVNode *n = nodeOf(item))
            n->setEnabledInCustomView(KORUHVChoiceItemShown(item));
        for (int i = 0; i < item->childCount(); ++i)
            walk(item->child(i));
    };
    for (int s = 0; s < treeWidget->topLevelItemCount(); ++s)
        walk(treeWidget->topLevelItem(s));
}

void QCustomViewDialog::setVisualIndexToNodes()
{
    for (int r = 0; r < listWidget->topLevelItemCount(); ++r) {
        if (KORUHVNode *channel = nodeOf(listWidget->topLevelItem(r)))
            channel->setCustomViewVisualIndex(r);
    }
}

void QCustomViewDialog::setVisibilityForParameters()
{
    viewchoice::applyChooser(systems, kApplySkip, *chooser, View::CustomView);
}

bool QCustomViewDialog::usesNodesOf(int sysHandle, int) const
{
    for (KORUHVNode *s : systems) {
        if (s && s->getSysHandle() == sysHandle)
            return true;
    }
    return false;
}

void QCustomViewDialog::dropNodesAndClose()
{
    systems.clear();
    treeWidget->clear();
    listWidget->clear();
    close();
}
