#include "QBoardInformations.h"

#include "KORUHVGuiPulse.h"
#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "KORUHVWrapper.h"
#include "QCustomBox.h"

#include <QGridLayout>
#include <QLabel>

QBoardInformations::QBoardInformations(QWidget *parent, int index)
    : QCollapsibleWidget(nullptr), widgetIdx(index), parentWidget(parent)
{
    setStyleSheet(QStringLiteral("background: transparent"));
}

QBoardInformations::~QBoardInformations()
{
    delete internalWidget;
}

QVector<KORUHVNode *> QBoardInformations::boardList() const
{
    QVector<KORUHVNode *> list;
    if (!systemTree)
        return list;
    if (!isCustomView)
        return systemTree->getChildren();
    for (KORUHVNode *sys : systemTree->getChildren())
        for (KORUHVNode *b : sys->getChildren())
            if (b->getNodeType() == NODE_BOARD)
                list.append(b);
    return list;
}

QString KORUHVP8080CrateBoardName(const QString &nodeName)
{
    if (nodeName.size() <= 6)
        return nodeName;
    bool ok = false;
    const int n = nodeName.mid(5, 2).toInt(&ok);
    if (!ok)
        return nodeName;
    return QStringLiteral("Crate%1 Board%2")
        .arg(n / 25, 2, 10, QLatin1Char('0'))
        .arg(n % 25, 2, 10, QLatin1Char('0'));
}

namespace {
QString addressPart(const QString &initParam)
{
    const QStringList parts = initParam.split(QLatin1Char('_'));
    if (parts.size() == 3 && !parts[0].isEmpty() && !parts[1].isEmpty() && !parts[2].isEmpty())
        return QStringLiteral("[0x%0]").arg(parts[2]);
    return QStringLiteral("[0x%0]").arg(initParam);
}
QString serialPart(KORUHVNode *b)
{
    return QStringLiteral("[%0]").arg(b->getBdSerNr());
}
} // namespace

QString KORUHVBoardTitle(KORUHVNode *b, int sysType, const QString &sysName, const QString &initParam,
                         bool customView, const QString &systemNodeName)
{
    const QString sep = QStringLiteral(" - ");
    if (customView) {
        if (sysType == KORUHV_SYSTYPE_W38XX)
            return QStringList{b->getSysName(), b->getBdModel(), addressPart(b->getInitParam())}.join(sep);
        return QStringList{systemNodeName + QStringLiteral(": ") + b->getNodeName(), b->getBdModel(),
                           serialPart(b)}
            .join(sep);
    }
    switch (sysType) {
    case KORUHV_SYSTYPE_W38XX:
        /* The boards of a group behind one bridge each have their own base
         * address; the system's is the main board's. */
        return QStringList{b->getSysName().isEmpty() ? sysName : b->getSysName(), b->getBdModel(),
                           addressPart(b->getInitParam().isEmpty() ? initParam : b->getInitParam())}
            .join(sep);
    case KORUHV_SYSTYPE_L317E:
    case KORUHV_SYSTYPE_BQ71XX:
        return b->getBdModel();
    case KORUHV_SYSTYPE_L2290:
    case KORUHV_SYSTYPE_BQ71XXE:
        return QStringList{
            b->getBdModel(),
            serialPart(b) + QStringLiteral("  (Fw Rel. %0.%1)").arg(b->getBdFwRelMax(), b->getBdFwRelMin())}
            .join(sep);
    case KORUHV_SYSTYPE_P8080:
        return QStringList{KORUHVP8080CrateBoardName(b->getNodeName()), b->getBdModel(), serialPart(b)}.join(
            sep);
    default:
        return QStringList{b->getNodeName(), b->getBdModel(), serialPart(b)}.join(sep);
    }
}

void QBoardInformations::createInternalWidget()
{
    if (!systemTree)
        return;
    internalWidget = new QCollapsibleWidget(this);
    internalWidget->setStyleSheet(QStringLiteral("background: transparent"));
    const QVector<KORUHVNode *> boards = boardList();
    int n = 0;
    for (int i = 0; i < boards.size(); ++i) {
        KORUHVNode *b = boards[i];
        if (b->getNodeType() == NODE_GROUP)
            continue;
        QString systemNodeName;
        if (isCustomView)
            for (KORUHVNode *sys : systemTree->getChildren())
                if (sys->getChildren().contains(b))
                    systemNodeName = sys->getNodeName();
        const QString title = KORUHVBoardTitle(b, systemTree->getSystemType(), systemTree->getNodeName(),
                                               systemTree->getInitParam(), isCustomView, systemNodeName);
        auto *box = new QCustomBox(title, n++, this, false, false, QString(), QString());
        internalWidget->addChildWidget(createWidgetForBoardInformations(i, b->getBdModel()), box);
        KORUHVGuiPulse::beat(); /* a full crate's page takes tens of ms */
    }
    internalWidget->setAllChildrenExpanded(true);
}

QWidget *QBoardInformations::createWidgetForBoardInformations(int boardPos, QString model)
{
    auto *w = new QWidget(this);
    auto *grid = new QGridLayout;
    grid->setSpacing(2);
    auto *pic = new QLabel(w);
    pic->setPixmap(QPixmap(QStringLiteral(":/Resources/Elementi/Modulo-dock.png")));
    grid->addWidget(pic, 0, 0);
    auto *modelLabel = new QLabel(QStringLiteral("%0\nModule").arg(model), w);
    modelLabel->setStyleSheet(QStringLiteral("color: #403b3a; font:bold;"));
    grid->addWidget(modelLabel, 0, 1);
    grid->addItem(new QSpacerItem(20, 20), 1, 0);
    const QVector<KORUHVNode *> boards = boardList();
    if (boardPos >= 0 && boardPos < boards.size()) {
        KORUHVNode *board = boards[boardPos];
        const int sysType = board->getSystemType();
        const QVector<KORUHVNode *> params = board->getParameters();
        for (int k = 0; k < params.size(); ++k) {
            KORUHVNode *p = params[k];
            if ((sysType == KORUHV_SYSTYPE_L2290 || sysType == KORUHV_SYSTYPE_BQ71XXE) &&
                p->getAccessRights() == ACCESS_WRITE_ONLY)
                continue;
            if (sysType == KORUHV_SYSTYPE_P8080 &&
                (p->getNodeName() == QLatin1String("SerNum") || p->getNodeName() == QLatin1String("Rel")))
                continue;
            grid->addWidget(new QLabel(p->getNodeName(), w), k + 2, 0);
            auto *item = new KORUHVWidgetItem(w, p);
            item->setSelectedStyleSheet();
            item->setObjectName(QStringLiteral("%0:%1:%2")
                                    .arg(p->getSysHandle())
                                    .arg(board->getBdSlotNr())
                                    .arg(p->getNodeName()));
            item->createInternalWidget(p->getDataType(), p->getAccessRights(), p->getExpUnitShortForm(),
                                       p->getNodeValue().KORUHVGetValue(), p->getNodeDecimals(), true);
            item->setFixedExpUnitWidth();
            grid->addWidget(item, k + 2, 1, Qt::AlignRight);
        }
        if (sysType == KORUHV_SYSTYPE_BQ71XX) {
            const int n = params.size();
            grid->addWidget(new QLabel(QStringLiteral("Base Fw Rel"), w), n + 2, 0);
            auto *d = new QLabel(board->getBdDescr(), w);
            d->setStyleSheet(QStringLiteral("font:bold;"));
            grid->addWidget(d, n + 2, 1, Qt::AlignRight);
            grid->addWidget(new QLabel(QStringLiteral("HV Fw Rel"), w), n + 3, 0);
            auto *f =
                new QLabel(QStringLiteral("%0.%1").arg(board->getBdFwRelMax(), board->getBdFwRelMin()), w);
            f->setStyleSheet(QStringLiteral("font:bold;"));
            grid->addWidget(f, n + 3, 1, Qt::AlignRight);
        }
    }
    w->setLayout(grid);
    w->setStyleSheet(QStringLiteral("background: transparent"));
    return w;
}
