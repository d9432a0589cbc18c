#include "KORUHVParameterChooser.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVariant>

KORUHVParameterChooser::KORUHVParameterChooser(QTableWidget *preview, const QString &buttonName,
                                               QObject *parent)
    : QObject(parent), preview(preview), buttonName(buttonName)
{
    preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    preview->horizontalHeader()->setSectionsMovable(true);
    preview->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    preview->horizontalHeader()->setObjectName(QStringLiteral("horizontalHeader"));
    preview->setSelectionMode(QAbstractItemView::NoSelection);
}

QString KORUHVParameterChooser::darkStyle()
{
    return QStringLiteral(
        "background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #585858, stop:0.4 #555555, "
        "stop:0.5 #323232, stop:1 #383838); color: #bfff27;");
}

QString KORUHVParameterChooser::lightStyle()
{
    return QStringLiteral(
        "background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e4e4e4, stop:0.4 #d6d6d6, "
        "stop:0.5 #c1c1c1, stop:1 #b3b3b3); color: black;");
}

int KORUHVParameterChooser::columnOf(const QString &name) const
{
    for (int c = 0; c < preview->columnCount(); ++c) {
        QTableWidgetItem *h = preview->horizontalHeaderItem(c);
        if (h && h->text().compare(name, Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

QPushButton *KORUHVParameterChooser::addName(const QString &name, bool shown)
{
    if (columnOf(name) >= 0)
        return nullptr;
    const int k = preview->columnCount();
    auto *button = new QPushButton(name);
    button->setObjectName(buttonName);
    button->setMinimumWidth(200);
    preview->setColumnCount(k + 1);
    auto *header = new QTableWidgetItem(name);
    preview->setHorizontalHeaderItem(k, header);
    setShown(button, shown);
    connect(button, &QPushButton::clicked, this, &KORUHVParameterChooser::toggleFromButton);
    return button;
}

void KORUHVParameterChooser::setShown(QPushButton *button, bool shown)
{
    button->setProperty("chk", shown);
    button->setStyleSheet(shown ? darkStyle() : lightStyle());
    const int c = columnOf(button->text());
    if (c < 0)
        return;
    preview->horizontalHeaderItem(c)->setData(Qt::CheckStateRole, shown ? 2 : 0);
    preview->setColumnHidden(c, !shown);
}

void KORUHVParameterChooser::toggleFromButton()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button)
        return;
    setShown(button, !button->property("chk").toBool());
}

void KORUHVParameterChooser::showAll()
{
    for (int c = 0; c < preview->columnCount(); ++c) {
        preview->horizontalHeaderItem(c)->setData(Qt::CheckStateRole, 2);
        preview->setColumnHidden(c, false);
    }
}

void KORUHVParameterChooser::moveToVisualIndex(const QString &name, int index)
{
    const int c = columnOf(name);
    if (c < 0 || index < 0 || index >= preview->columnCount())
        return;
    QHeaderView *h = preview->horizontalHeader();
    const int from = h->visualIndex(c);
    if (from != index)
        h->moveSection(from, index);
}

bool KORUHVParameterChooser::isShown(const QString &name) const
{
    const int c = columnOf(name);
    return c >= 0 && preview->horizontalHeaderItem(c)->data(Qt::CheckStateRole).toInt() == 2;
}

int KORUHVParameterChooser::visualPosition(const QString &name) const
{
    const int c = columnOf(name);
    return c < 0 ? -1 : preview->horizontalHeader()->visualIndex(c);
}

bool KORUHVParameterChooser::anyShown() const
{
    for (int c = 0; c < preview->columnCount(); ++c) {
        if (!preview->isColumnHidden(c))
            return true;
    }
    return false;
}
