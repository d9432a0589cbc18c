#include "QTripHandlingDialog.h"

#include "KORUHVNode.h"

#include <QDialogButtonBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace koruviews {

int tripLineCount(bool external, int rows)
{
    if (external)
        return 4;
    return std::min(std::max(rows, 0) / 2, 16);
}

quint32 tripLineMask(int line, int lineCount)
{
    if (line < 0 || line >= 32 || lineCount <= 0)
        return 0;
    const quint32 low = quint32(1) << line;
    const int highBit = line + lineCount;
    const quint32 high = highBit < 32 ? (quint32(1) << highBit) : 0;
    return low + high;
}

QString tripResultText(const QString &unit, quint32 mask, bool upperCase)
{
    QString digits = QStringLiteral("%1").arg(mask, 8, 16, QLatin1Char('0'));
    if (upperCase)
        digits = digits.toUpper();
    return unit + digits;
}

bool tripMaskFromResult(const QString &text, const QString &unit, quint32 *mask)
{
    QString digits = text;
    /* Only the leading unit goes: digits such as "A" stay. */
    if (!unit.isEmpty() && digits.startsWith(unit))
        digits = digits.mid(unit.size());
    digits = digits.trimmed();
    if (digits.isEmpty())
        return false;
    bool ok = false;
    const qulonglong v = digits.toULongLong(&ok, 16);
    if (!ok || v > 0xFFFFFFFFull)
        return false;
    *mask = quint32(v);
    return true;
}

} // namespace koruviews

namespace {

const char *const checkIconPath = ":/Resources/Elementi/check-white.png";

} // namespace

QTripHandlingDialog::QTripHandlingDialog(int ext_, KORUHVNode *systemNode_, QWidget *parent)
    : QDialog(parent), systemNode(systemNode_), ext(ext_)
{
    setObjectName(QStringLiteral("QTripHandlingDialog"));
    resize(600, 400);
    setContextMenuPolicy(Qt::NoContextMenu);
    verticalLayout = new QVBoxLayout(this);
    scrollArea = new QScrollArea(this);
    scrollArea->setWidgetResizable(true);
    scrollArea->setFrameShape(QFrame::StyledPanel);
    scrollArea->setFrameShadow(QFrame::Plain);
    scrollAreaWidgetContents = new QWidget();
    scrollArea->setWidget(scrollAreaWidgetContents);
    verticalLayout->addWidget(scrollArea);
    buttonBox =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
    verticalLayout->addWidget(buttonBox);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setAttribute(Qt::WA_DeleteOnClose);
    if (ext) {
        setGeometry(100, 300, 600, 750);
        setWindowTitle(QStringLiteral("%0 Trip Configuration").arg(QStringLiteral("External")));
    } else {
        setGeometry(150, 200, 900, 640);
        setWindowTitle(QStringLiteral("%0 Trip Configuration").arg(QStringLiteral("Internal")));
    }
    lineColours = {QStringLiteral("#FF0000"), QStringLiteral("#0000FF"), QStringLiteral("#00FF00"),
                   QStringLiteral("#FFFF00"), QStringLiteral("#FF8000"), QStringLiteral("#8F00FF"),
                   QStringLiteral("#0B0B61"), QStringLiteral("#61380B"), QStringLiteral("#2EFEF7"),
                   QStringLiteral("#2A0A29"), QStringLiteral("#0B3B0B"), QStringLiteral("#FF00BF"),
                   QStringLiteral("#0489B1"), QStringLiteral("#FF0040"), QStringLiteral("#A9D0F5"),
                   QStringLiteral("#D8F781")};
    createTablesForLinking();
    /* OK writes (and the box then accepts); Apply writes and stays open. */
    connect(buttonBox->button(QDialogButtonBox::Ok), &QPushButton::clicked, this,
            &QTripHandlingDialog::applyValues);
    connect(buttonBox->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &QTripHandlingDialog::applyValues);
}

QTripHandlingDialog::~QTripHandlingDialog() = default;

void QTripHandlingDialog::treeAboutToChange(int)
{
    systemNode = nullptr; /* nothing is read or written any more */
    reject();
}

const char *QTripHandlingDialog::tripParameterName() const
{
    return ext ? "TripExt" : "TripInt";
}

KORUHVNode *QTripHandlingDialog::tripParameter(KORUHVNode *channel) const
{
    if (!channel)
        return nullptr;
    for (KORUHVNode *p : channel->getParameters())
        if (p && p->getNodeName() == QLatin1String(tripParameterName()))
            return p;
    return nullptr;
}

KORUHVNode *QTripHandlingDialog::boardOfTable(QTableWidget *table) const
{
    if (!systemNode || !table)
        return nullptr;
    const int slot = table->property("slotNr").toInt();
    const QVector<KORUHVNode *> children = systemNode->getChildren();
    if (slot < 0 || slot >= children.size())
        return nullptr;
    KORUHVNode *board = children[slot];
    return (board && board->getNodeType() != NODE_GROUP) ? board : nullptr;
}

QList<QTableWidget *> QTripHandlingDialog::boardTables() const
{
    return scrollAreaWidgetContents->findChildren<QTableWidget *>(QStringLiteral("tabletrip"));
}

void QTripHandlingDialog::createTablesForLinking()
{
    if (!systemNode)
        return;
    auto *page = new QVBoxLayout(scrollAreaWidgetContents);
    QWidget *row = nullptr;
    QHBoxLayout *rowLayout = nullptr;
    QTabWidget *tabs = nullptr;
    if (ext) {
        row = new QWidget(scrollAreaWidgetContents);
        rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
    } else {
        tabs = new QTabWidget(scrollAreaWidgetContents);
        tabs->setStyleSheet(QStringLiteral("background: #efefef"));
    }
    int totalWidth = 0;
    for (KORUHVNode *board : systemNode->getChildren()) {
        QWidget *group = createGroupWidget(board);
        if (!group)
            continue;
        if (ext) {
            rowLayout->addWidget(group);
            if (auto *t = group->findChild<QTableWidget *>(QStringLiteral("tabletrip")))
                totalWidth += t->width();
        } else {
            tabs->addTab(group, board->getNodeName());
        }
    }
    if (ext) {
        rowLayout->addStretch();
        page->addWidget(row);
        page->addWidget(createColorButtons(4, totalWidth, -1));
        page->addStretch(3);
    } else {
        page->addWidget(tabs);
        page->addStretch();
    }
    if (complexValues)
        QTimer::singleShot(500, this, &QTripHandlingDialog::showWarningMessageBox);
}

QWidget *QTripHandlingDialog::createGroupWidget(KORUHVNode *board)
{
    if (!board || board->getNodeType() == NODE_GROUP)
        return nullptr;
    KORUHVNode *first = nullptr;
    for (KORUHVNode *ch : board->getChildren())
        if ((first = tripParameter(ch)))
            break;
    if (!first)
        return nullptr;
    tripUnit = first->getExpUnitShortForm();
    QTableWidget *table = createTableWidget(board);
    setCellValues(table);
    auto *group = new QGroupBox();
    group->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::MinimumExpanding);
    if (ext) {
        group->setTitle(board->getNodeName());
        auto *l = new QVBoxLayout(group);
        l->addWidget(table);
    } else {
        group->setFlat(true);
        auto *l = new QHBoxLayout(group);
        l->addWidget(table);
        l->addSpacing(50);
        l->addWidget(createColorButtons(table->rowCount() / 2, table->height(), board->getBdSlotNr()));
        l->addStretch();
    }
    return group;
}

QTableWidget *QTripHandlingDialog::createTableWidget(KORUHVNode *board)
{
    const QVector<KORUHVNode *> channels = board->getChildren();
    auto *table = new QTableWidget(channels.size(), 2);
    table->setObjectName(QStringLiteral("tabletrip"));
    table->horizontalHeader()->setObjectName(QStringLiteral("htrip"));
    table->verticalHeader()->setObjectName(QStringLiteral("htrip"));
    table->setProperty("slotNr", int(board->getBdSlotNr()));
    table->setHorizontalHeaderLabels({QStringLiteral("Line"), QStringLiteral("Result")});
    table->setColumnWidth(0, 35);
    QFont small = table->font();
    small.setPointSize(8);
    for (int r = 0; r < channels.size(); ++r) {
        auto *h = new QTableWidgetItem(channels[r] ? channels[r]->getNodeName() : QString());
        h->setFont(small);
        table->setVerticalHeaderItem(r, h);
        table->setRowHeight(r, 20);
        auto *line = new QTableWidgetItem();
        line->setTextAlignment(Qt::AlignCenter);
        line->setForeground(QColor(QStringLiteral("#dddddd")));
        line->setBackground(Qt::white);
        line->setFlags(Qt::ItemIsEnabled);
        table->setItem(r, 0, line);
        auto *result = new QTableWidgetItem();
        result->setFlags(Qt::ItemIsEnabled);
        result->setBackground(QColor(QStringLiteral("#eeeeee")));
        table->setItem(r, 1, result);
    }
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    int height = table->horizontalHeader()->sizeHint().height() + 2;
    for (int r = 0; r < table->rowCount(); ++r)
        height += table->rowHeight(r);
    int width =
        table->verticalScrollBar()->sizeHint().width() + table->verticalHeader()->sizeHint().width() + 2;
    for (int c = 0; c < table->columnCount(); ++c)
        width += table->columnWidth(c);
    table->setFixedSize(width, height);
    table->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    connect(table, &QTableWidget::itemClicked, this, &QTripHandlingDialog::checkCell);
    return table;
}

void QTripHandlingDialog::setCellValues(QTableWidget *table)
{
    KORUHVNode *board = boardOfTable(table);
    if (!board)
        return;
    const QVector<KORUHVNode *> channels = board->getChildren();
    const int n = koruviews::tripLineCount(ext != 0, table->rowCount());
    for (int r = 0; r < table->rowCount() && r < channels.size(); ++r) {
        KORUHVNode *p = tripParameter(channels[r]);
        if (!p)
            continue;
        /* A 32-bit word whether the node keeps it signed or unsigned. */
        const quint32 v = static_cast<quint32>(p->getNodeValue().KORUHVGetValue().toLongLong());
        table->item(r, 1)->setText(koruviews::tripResultText(p->getExpUnitShortForm(), v, true));
        int lines = 0;
        for (int b = 0; b < n; ++b) {
            if (!(v & (quint32(1) << b)))
                continue;
            ++lines;
            QTableWidgetItem *cell = table->item(r, 0);
            cell->setBackground(QColor(lineColours.value(b)));
            cell->setText(QString::number(b));
        }
        if (lines > 1)
            complexValues = true;
    }
}

QWidget *QTripHandlingDialog::createColorButtons(int lineCount, int size, int slotNr)
{
    auto *container = new QWidget();
    container->setStyleSheet(QStringLiteral("border: 1px dotted darkgrey;"));
    auto *grid = new QGridLayout(container);
    auto *title = new QLabel(QStringLiteral("Line selection:"));
    title->setStyleSheet(QStringLiteral("border: none;"));
    grid->addWidget(title, 0, 0, 1, 3);
    const int count = ext ? 4 : std::min(std::max(lineCount, 0), 16);
    for (int i = 0; i < count; ++i) {
        auto *cell = new QWidget();
        cell->setStyleSheet(QStringLiteral("border: none"));
        auto *cellLayout = new QVBoxLayout(cell);
        cellLayout->setContentsMargins(0, 0, 0, 0);
        cellLayout->setSpacing(0);
        cell->setContentsMargins(20, 20, 20, 20);
        cellLayout->addWidget(new QLabel(QStringLiteral("Line %0").arg(i)));
        auto *button = new QPushButton();
        button->setObjectName(QStringLiteral("colorButt"));
        button->setIcon(QIcon(QLatin1String(checkIconPath)));
        button->setStyleSheet(QStringLiteral("background-color: %0; border:none;").arg(lineColours.value(i)));
        button->setProperty("slotNr", slotNr);
        button->setProperty("color", lineColours.value(i));
        button->setProperty("line", i);
        button->setIconSize(i == 0 ? QSize(18, 18) : QSize(0, 0));
        if (i == 0)
            selectedLineButtons.append(button);
        connect(button, &QPushButton::clicked, this, &QTripHandlingDialog::chooseColor);
        cellLayout->addWidget(button);
        if (ext)
            grid->addWidget(cell, 1, i);
        else
            grid->addWidget(cell, i / 3 + 1, i % 3);
    }
    if (ext) {
        container->setFixedHeight(100);
        container->setFixedWidth(std::max(size, 1));
    } else {
        container->setFixedWidth(500);
        container->setFixedHeight(std::max(size, 1));
    }
    return container;
}

void QTripHandlingDialog::chooseColor()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button)
        return;
    const int slot = button->property("slotNr").toInt();
    for (QPushButton *&b : selectedLineButtons)
        if (b->property("slotNr").toInt() == slot)
            b = button;
    for (QPushButton *b : findChildren<QPushButton *>(QStringLiteral("colorButt")))
        if (b->property("slotNr").toInt() == slot)
            b->setIconSize(QSize(0, 0));
    button->setIconSize(QSize(18, 18));
}

void QTripHandlingDialog::checkCell(QTableWidgetItem *curr)
{
    if (!curr || curr->column() != 0 || !curr->tableWidget())
        return;
    QTableWidget *table = curr->tableWidget();
    const int slot = table->property("slotNr").toInt();
    QPushButton *chosen = nullptr;
    for (QPushButton *b : selectedLineButtons) {
        const int s = b->property("slotNr").toInt();
        if (s == -1 || s == slot) {
            chosen = b;
            break;
        }
    }
    if (!chosen)
        return;
    quint32 mask = 0;
    if (curr->text().isEmpty()) {
        const int line = chosen->property("line").toInt();
        curr->setBackground(QColor(chosen->property("color").toString()));
        curr->setText(QString::number(line));
        mask = koruviews::tripLineMask(line, koruviews::tripLineCount(ext != 0, table->rowCount()));
    } else {
        curr->setBackground(Qt::white);
        curr->setText(QString());
    }
    if (QTableWidgetItem *result = table->item(curr->row(), 1))
        result->setText(koruviews::tripResultText(tripUnit, mask, false));
}

void QTripHandlingDialog::applyValues()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button || !systemNode)
        return;
    writeAll(button == buttonBox->button(QDialogButtonBox::Apply));
}

void QTripHandlingDialog::writeAll(bool keepSelection)
{
    QTableWidget *channelTable = nullptr;
    QList<QTableWidgetItem *> remembered;
    bool first = true;
    for (QTableWidget *table : boardTables()) {
        KORUHVNode *board = boardOfTable(table);
        if (!board)
            continue;
        const QVector<KORUHVNode *> channels = board->getChildren();
        for (int r = 0; r < table->rowCount() && r < channels.size(); ++r) {
            KORUHVNode *p = tripParameter(channels[r]);
            if (!p)
                continue;
            if (first) {
                first = false;
                channelTable = p->tableWidget();
                if (channelTable) {
                    remembered = channelTable->selectedItems();
                    channelTable->setCurrentItem(nullptr);
                }
            }
            quint32 mask = 0;
            const QTableWidgetItem *result = table->item(r, 1);
            /* A text that does not parse is not written. */
            if (!result || !koruviews::tripMaskFromResult(result->text(), p->getExpUnitShortForm(), &mask))
                continue;
            p->setNodeEditedValue(QVariant(mask));
        }
    }
    if (keepSelection && channelTable)
        for (QTableWidgetItem *item : remembered)
            item->setSelected(true);
}

void QTripHandlingDialog::showWarningMessageBox()
{
    QMessageBox::warning(
        this, QStringLiteral("LUMO2020"),
        QStringLiteral("Some values of the Trip parameter currently set\nare more complex than the "
                       "ones which can be\nconfigured in this window.\nPlease be careful while "
                       "changing them, because\nyou could lose some link."));
}
