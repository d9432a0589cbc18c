/* Building the system tree at connection and after a live board change. */
#include "QSystemInterface.h"

#include "KORUHVChannelAlarm.h"

#include "KORUHVGuiPulse.h"

#include "KORUHVConfig.h"
#include "KORUHVMirrorNode.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVUtils.h"
#include "KORUHVWrapper.h"
#include "QSubWindow.h"
#include "ShellGlobals.h"

#include <QCoreApplication>
#include <QProgressDialog>

#include <cstring>

namespace {

/* The progress dialog closes itself at its maximum; the build stays below. */
void progressTo(QProgressDialog *progress, int value)
{
    if (progress)
        progress->setValue(qMin(value, 99));
}

QString unitText(unsigned wrapperType, const QString &exp, const QString &unit)
{
    return wrapperType == WRAPPER_TYPE_BINARY ? QStringLiteral("0x") : exp + unit;
}

/* The value equals integer 0 (any numeric type holding 0). */
bool isIntegerZero(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::UChar:
        return v.toDouble() == 0.0;
    default:
        return false;
    }
}

} // namespace

int QSystemInterface::systemInterfaceCreateSystemTree(QProgressDialog *progress, QString user,
                                                      QString password)
{
    /* Each board and channel costs requests to the device: the GUI thread
     * answers between them. */
    KORUHVGuiPulse pulse(progress);
    if (initParam.isEmpty())
        return -1;
    /* The wrapper takes at most 79 characters; a longer address is refused,
     * never cut to one that might name another device. */
    const QByteArray address8 = initParam.toLatin1();
    if (address8.size() > 79)
        return -1;
    char address[80];
    std::memset(address, 0, sizeof address);
    std::memcpy(address, address8.constData(), static_cast<size_t>(address8.size()));
    progressTo(progress, 5);
    const QByteArray user8 = user.toLatin1();
    const QByteArray password8 = password.toLatin1();

    int handle = -1;
    const int rc =
        KORUHV_InitSystem(systemType, linkType, address, user8.constData(), password8.constData(), &handle);
    if (rc != 0) {
        systemHandle = -1;
        return rc;
    }
    systemHandle = handle;
    progressTo(progress, 10);

    systemNode = new KORUHVNode;
    systemNode->KORUHVPrepareNode(systemName, NODE_SYSTEM, systemType, linkType, initParam, user, password);
    systemNode->setAccessRights(ACCESS_OTHER);
    systemNode->setConnectionStatus(CONN_OK);
    systemNode->setSysHandle(systemHandle);

    for (KORUHVNode *prop : KORUHVConfig::KORUHVConfigCreateSystemProps(systemHandle)) {
        if (prop->getNodeName() == QLatin1String("IPAddr"))
            prop->setNodeValue(
                KORUHVNodeValue(QVariant(initParam), QUALITY_GOOD, QDateTime::currentDateTime()));
        systemNode->addParameter(prop);
        if (isStopRequested())
            return -3;
    }

    const QVector<KORUHVNode *> slotNodes = KORUHVConfig::KORUHVConfigCreateBoards(systemHandle);
    systemNode->setSlotCount(static_cast<unsigned short>(slotNodes.size()));
    if (systemType == KORUHV_SYSTYPE_HX4400) {
        const int n = slotNodes.size();
        if (n == 4 || n == 6) {
            systemType = 3;
        } else if (n != 10 && n != 16) {
            qDeleteAll(slotNodes);
            KORUHV_DeinitSystem(systemHandle);
            systemHandle = -1;
            return -1;
        }
    }

    int value = 15;
    progressTo(progress, value);
    for (KORUHVNode *slotNode : slotNodes)
        systemNode->addChildNode(slotNode);
    const bool w38 = systemType == KORUHV_SYSTYPE_W38XX;
    const QString nodeSysName = w38 ? user : systemName;
    for (KORUHVNode *board : slotNodes) {
        value += 5;
        progressTo(progress, qMin(value, 94));
        board->setSysName(nodeSysName);
        if (w38)
            board->setInitParam(initParam);
        if (board->getNodeType() == NODE_GROUP)
            continue;
        if (isStopRequested())
            return -3;
        const unsigned short slot = board->getBdSlotNr();
        for (KORUHVNodeProperty *p : KORUHVConfig::KORUHVConfigCreateBoardInfo(board))
            board->addProperty(p);

        for (KORUHVNode *param :
             KORUHVConfig::KORUHVConfigCreateBoardParams(systemHandle, slot, systemType)) {
            param->setBdName(board->getNodeName());
            param->setSysName(nodeSysName);
            if (w38)
                param->setInitParam(initParam);
            QString unit, exp;
            for (KORUHVNodeProperty *p : KORUHVConfig::KORUHVConfigCreateBoardParameterProperties(
                     systemHandle, param->getNodeName(), param->getParWrapperType(), slot)) {
                const QVariant v = p->getPropVal().KORUHVGetValue();
                if (p->getPropName() == QLatin1String("Unit"))
                    unit = KORUHVUtils::KORUHVConvertPropertyUnitShortForm(
                        static_cast<unsigned short>(v.toUInt()));
                else if (p->getPropName() == QLatin1String("Exp"))
                    exp = KORUHVUtils::KORUHVConvertPropertyExpShortForm(static_cast<short>(v.toInt()));
                param->addProperty(p);
            }
            param->setExpUnitShortForm(unitText(param->getParWrapperType(), exp, unit));
            board->addParameter(param);
            KORUHVGuiPulse::beat();
        }

        for (KORUHVNode *ch :
             KORUHVConfig::KORUHVConfigCreateChannels(systemHandle, slot, board->getBdChCount())) {
            ch->setSysName(nodeSysName);
            if (w38)
                ch->setInitParam(initParam);
            ch->setBdName(board->getNodeName());
            board->addChildNode(ch);
            buildChannelParameters(ch, board, slot, systemType, true);
            KORUHVGuiPulse::beat();
            if (isStopRequested())
                return -3;
        }
    }

    for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateSystemFurtherParams(
             systemNode->getConnectionStatus(), systemNode->getSlotCount())) {
        p->setSysHandle(systemHandle);
        systemNode->addParameter(p);
    }
    progressTo(progress, 95);
    return 0;
}

void QSystemInterface::buildChannelParameters(KORUHVNode *ch, KORUHVNode *board, unsigned short slot,
                                              int sysType, bool atConnection)
{
    const bool w38 = systemType == KORUHV_SYSTYPE_W38XX;
    for (KORUHVNode *param :
         KORUHVConfig::KORUHVConfigCreateChannelParams(systemHandle, sysType, slot, ch->getChIdx())) {
        param->setBdName(board->getNodeName());
        param->setChName(ch->getNodeName());
        param->setChIdx(ch->getChIdx());
        if (atConnection) {
            param->setSysName(w38 ? board->getSysName() : systemName);
            if (w38)
                param->setInitParam(initParam);
        }
        ch->addParameter(param);
        if (param->getParWrapperType() == WRAPPER_TYPE_CHSTATUS &&
            !KORUHVUtils::KORUHVCheckChStatusValue(param->getSystemType(),
                                                   param->getNodeValue().KORUHVGetValue().toInt()))
            alarmStatusNodes.append(param);

        QString tip, unit, exp;
        int plain = 0, nonZero = 0;
        for (KORUHVNodeProperty *p : KORUHVConfig::KORUHVConfigCreateChannelParameterProperties(
                 systemHandle, param->getNodeName(), param->getParWrapperType(), slot, ch->getChIdx())) {
            const QString name = p->getPropName();
            const QVariant v = p->getPropVal().KORUHVGetValue();
            const auto is = [&](const char *n) {
                return atConnection ? name == QLatin1String(n)
                                    : name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0;
            };
            if (is("Unit")) {
                unit =
                    KORUHVUtils::KORUHVConvertPropertyUnitShortForm(static_cast<unsigned short>(v.toUInt()));
            } else if (is("Exp")) {
                exp = KORUHVUtils::KORUHVConvertPropertyExpShortForm(static_cast<short>(v.toInt()));
            } else if (is("Decimal")) {
                param->setNodeDecimals(v.toInt());
            } else if (atConnection && name == QLatin1String("Enum")) {
                const QStringList list = v.toStringList();
                tip += QStringLiteral("Minval : %1\n").arg(list.isEmpty() ? QString() : list.first());
                tip += QStringLiteral("Maxval : %1\n").arg(list.isEmpty() ? QString() : list.last());
            } else if (param->getParWrapperType() == WRAPPER_TYPE_BINARY) {
                tip += name + QStringLiteral(" : ") +
                       KORUHVUtils::KORUHVConvertFromBinaryToHexString(v.toInt()) + QStringLiteral("\n");
            } else if (atConnection && param->getParWrapperType() == WRAPPER_TYPE_ENUM) {
                /* no line */
            } else {
                tip += name + QStringLiteral(" : ") + v.toString() + QStringLiteral("\n");
                ++plain;
                if (!isIntegerZero(v))
                    ++nonZero;
            }
            param->addProperty(p);
        }
        param->setExpUnitShortForm(unitText(param->getParWrapperType(), exp, unit));
        if (atConnection && plain > 0 && nonZero == 0)
            tip.clear();
        if (tip.size() > 1)
            tip.chop(1);
        param->setToolTip(tip);
        if (atConnection && param->getMirrorNode())
            param->getMirrorNode()->setToolTip(tip);
    }
    /* A channel in alarm from the start shows so in every table. */
    for (KORUHVNode *param : ch->getParameters())
        if (param && param->getParWrapperType() == WRAPPER_TYPE_CHSTATUS &&
            !KORUHVUtils::KORUHVCheckChStatusValue(param->getSystemType(),
                                                   param->getNodeValue().KORUHVGetValue().toInt()))
            KORUHVSetChannelAlarm(param, ch->getParameters(), true);
}

QVector<int> QSystemInterface::updateTreeAndBoardInformationsAfterLiveInsertion(QWidget *stackedWidget)
{
    QVector<int> added;
    if (!systemNode)
        return added;
    QWidget *parent = subWindow ? static_cast<QWidget *>(subWindow) : static_cast<QWidget *>(this);
    QProgressDialog progress(QStringLiteral("Crate map has changed, please wait.."), QString(), 0, 100,
                             parent);
    progress.setStyleSheet(QStringLiteral("background: white"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setValue(0);
    progress.show();
    QCoreApplication::processEvents();

    alarmStatusNodes.clear();
    const QVector<KORUHVNode *> boards = KORUHVConfig::KORUHVConfigChangeBoardsLive(systemHandle, systemNode);
    progress.setValue(10);
    const int n = boards.size();
    int value = 10;
    for (KORUHVNode *board : boards) {
        if (board->getNodeType() != NODE_BOARD)
            continue;
        board->setSystemType(systemNode->getSystemType());
        const unsigned short slot = board->getBdSlotNr();
        added.append(slot);
        for (KORUHVNodeProperty *p : KORUHVConfig::KORUHVConfigCreateBoardInfo(board))
            board->addProperty(p);
        for (KORUHVNode *param :
             KORUHVConfig::KORUHVConfigCreateBoardParams(systemHandle, slot, systemType)) {
            param->setBdName(board->getNodeName());
            QString unit, exp;
            for (KORUHVNodeProperty *p : KORUHVConfig::KORUHVConfigCreateBoardParameterProperties(
                     systemHandle, param->getNodeName(), param->getParWrapperType(), slot)) {
                const QString name = p->getPropName();
                const QVariant v = p->getPropVal().KORUHVGetValue();
                if (name.compare(QLatin1String("Unit"), Qt::CaseInsensitive) == 0)
                    unit = KORUHVUtils::KORUHVConvertPropertyUnitShortForm(
                        static_cast<unsigned short>(v.toUInt()));
                else if (name.compare(QLatin1String("Exp"), Qt::CaseInsensitive) == 0)
                    exp = KORUHVUtils::KORUHVConvertPropertyExpShortForm(static_cast<short>(v.toInt()));
                else if (name.compare(QLatin1String("Decimal"), Qt::CaseInsensitive) == 0)
                    param->setNodeDecimals(v.toInt());
                param->addProperty(p);
            }
            param->setExpUnitShortForm(unitText(param->getParWrapperType(), exp, unit));
            board->addParameter(param);
        }
        for (KORUHVNode *ch :
             KORUHVConfig::KORUHVConfigCreateChannels(systemHandle, slot, board->getBdChCount())) {
            ch->setSysName(systemName);
            ch->setBdName(board->getNodeName());
            board->addChildNode(ch);
            buildChannelParameters(ch, board, slot, systemType, false);
        }
        if (n > 0) {
            value += 80 / n;
            progress.setValue(qMin(value, 94));
        }
    }
    updateBoardInformations(stackedWidget);
    progress.setValue(95);
    updateSubWindowLive();
    progress.setValue(100);
    return added;
}
