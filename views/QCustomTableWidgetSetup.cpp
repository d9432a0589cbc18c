/* The channel table as a table window builds it: delegate, headers, edit
 * triggers and look. Kept apart from QCustomTableWidget.cpp because that file
 * is compiled into the model library, which knows no editor classes. */
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"
#include "QCustomTableWidgetDelegate.h"

#include <QHeaderView>
#include <QStyle>
#include <QStyleFactory>

namespace {

KORUHVNode *editorNode(QObject *editor)
{
    auto *item = qobject_cast<KORUHVWidgetItem *>(editor);
    return item ? item->getReferenceNode() : nullptr;
}

} // namespace

QCustomTableWidget::QCustomTableWidget(bool custom, QWidget *parent)
    : QTableWidget(parent), isCustom(custom), greenHeaderBrush(QColor(53, 169, 18)),
      baseHeaderBrush(QColor(128, 128, 128))
{
    setEditorNodeResolver(&editorNode);
    setObjectName(QStringLiteral("subWinTable"));
    /* The delegate is a child of the table and goes with it. */
    setItemDelegate(new QCustomTableWidgetDelegate(this));
    setStyleSheet(QStringLiteral(
        ":enabled { background:#FEFEFE; } \t\t\t\t\t\t\t\t :!enabled { background:#CCCCCC; } "));
    setSortingEnabled(false);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    horizontalHeader()->setObjectName(QStringLiteral("horizontalHeader"));
    verticalHeader()->setObjectName(QStringLiteral("verticalHeader"));
    verticalHeader()->setSectionsMovable(true);
    connect(verticalHeader(), &QHeaderView::sectionClicked, this, &QCustomTableWidget::cancelRowSelection);
    horizontalHeader()->setSectionsMovable(true);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
            &QCustomTableWidget::checkColumnSelection);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
            &QCustomTableWidget::emitCreateDialogForTripHandling);
    horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(horizontalHeader(), &QWidget::customContextMenuRequested, this,
            &QCustomTableWidget::emitSelectOffsetSettingModality);
    setEditTriggers(QAbstractItemView::AllEditTriggers);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    /* A plain style of its own for the row header, so the header colours
     * show whatever the application style; owned by the table. */
    if (QStyle *style = QStyleFactory::create(QStringLiteral("Fusion"))) {
        style->setParent(this);
        verticalHeader()->setStyle(style);
    }
    connect(verticalHeader(), &QHeaderView::sectionMoved, this, &QCustomTableWidget::alternateRowColors);
}
