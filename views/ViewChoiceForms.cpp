#include "ViewChoiceForms.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace viewchoice {

ChoiceFrame buildChoiceFrame(QDialog *dialog, const char *name, QSize size, bool channelsSideBySide)
{
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->resize(size);
    dialog->setWindowIcon(QIcon(QStringLiteral(":/Resources/buttons/table_sort.png")));
    auto *layout = new QVBoxLayout(dialog);
    ChoiceFrame f;
    f.tabs = new QTabWidget(dialog);
    f.tabs->setObjectName(QStringLiteral("tabWidget"));
    layout->addWidget(f.tabs);
    f.channelsTab = new QWidget();
    f.channelsTab->setObjectName(QStringLiteral("channelsTab"));
    if (channelsSideBySide)
        f.channelsLayout = new QHBoxLayout(f.channelsTab);
    else
        f.channelsLayout = new QVBoxLayout(f.channelsTab);
    f.tabs->addTab(f.channelsTab, QStringLiteral("Channels"));
    f.paramsTab = new QWidget();
    f.paramsTab->setObjectName(QStringLiteral("paramsTab"));
    f.tabs->addTab(f.paramsTab, QStringLiteral("Parameters"));
    f.buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    f.buttons->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(f.buttons);
    f.channelsTab->setStyleSheet(QStringLiteral("background: #f0f0f0"));
    f.paramsTab->setStyleSheet(QStringLiteral("background: #f0f0f0"));
    return f;
}

void styleChoiceTree(QTreeWidget *tree)
{
    tree->setObjectName(QStringLiteral("chanSel"));
    tree->setStyleSheet(QStringLiteral("#chanSel::item:enabled { color: #439847; } "
                                       "#chanSel::item:!enabled { color: grey; }"));
}

QVBoxLayout *parameterPageHead(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    layout->setSpacing(0);
    auto *label = new QLabel(QStringLiteral("Check/uncheck parameters you want to show/hide:"), page);
    label->setMargin(10);
    layout->addWidget(label);
    return layout;
}

void parameterPageFoot(QVBoxLayout *layout, QWidget *page, QTableWidget *preview, int extraHeight)
{
    layout->addSpacing(20);
    auto *orderLabel = new QLabel(QStringLiteral("Drag and drop columns to order:"), page);
    orderLabel->setMargin(10);
    layout->addWidget(orderLabel);
    layout->addWidget(preview);
    layout->addStretch();
    preview->setMaximumHeight(preview->horizontalHeader()->height() + extraHeight);
}

} // namespace viewchoice
