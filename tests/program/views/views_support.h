// Helpers of the views tests: parameter nodes made by hand, trees built from
// the fake wrapper as the system controller builds them, typing into
// whatever has the focus, and the fixture of a table window over a tree.
#ifndef VIEWS_TEST_SUPPORT_H
#define VIEWS_TEST_SUPPORT_H

#include "AppGlobals.h"
#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVUtils.h"
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"
#include "QSubWindow.h"
#include "system_tree.h"
#include "wait_progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace vt {

inline KORUHVNodeProperty *prop(const char *name, const QVariant &value)
{
    auto *p = new KORUHVNodeProperty();
    p->setPropName(QString::fromLatin1(name));
    p->setPropVal(value, QUALITY_GOOD);
    return p;
}

inline KORUHVNodeValue good(const QVariant &v, nodeValueQuality q = QUALITY_GOOD)
{
    return KORUHVNodeValue(v, q, QDateTime::currentDateTime());
}

/* A parameter node of the given kind on system handle h, slot 0, channel 0. */
inline KORUHVNode *makeParam(const char *name, nodeType kind, nodeDataType type, unsigned wrapperType,
                             nodeAccessRights access, const QVariant &value, int handle = -1)
{
    auto *n = new KORUHVNode();
    n->KORUHVPrepareNode(QString::fromLatin1(name), kind, 2, -1, QString(), QString(), QString());
    n->setDataType(type);
    n->setParWrapperType(wrapperType);
    n->setAccessRights(access);
    n->setSysHandle(handle);
    n->setNodeValue(good(value));
    return n;
}

/* Units and decimals from the properties, as the controller sets them. */
inline void applyDisplayProperties(KORUHVNode *p)
{
    unsigned short unit = 0;
    short exp = 0;
    bool haveUnit = false;
    for (KORUHVNodeProperty *q : p->getProperties()) {
        const QVariant v = q->getPropVal().KORUHVGetValue();
        if (q->getPropName() == "Decimal")
            p->setNodeDecimals(v.toInt());
        else if (q->getPropName() == "Unit")
            unit = v.toUInt(), haveUnit = true;
        else if (q->getPropName() == "Exp")
            exp = short(v.toInt());
    }
    if (haveUnit)
        p->setExpUnitShortForm(KORUHVUtils::KORUHVConvertPropertyExpShortForm(exp) +
                               KORUHVUtils::KORUHVConvertPropertyUnitShortForm(unit));
}

/* The tree of an open system, level by level, with the parameters'
 * properties and display forms. */
inline KORUHVNode *buildTree(int h, int sysType, const QString &name = QStringLiteral("crate1"))
{
    auto *sys = new KORUHVNode();
    sys->KORUHVPrepareNode(name, NODE_SYSTEM, sysType, 0, QStringLiteral("127.0.0.2"), QString(), QString());
    sys->setSysName(name);
    sys->setSysHandle(h);
    koru_test::fillTree(sys, h, sysType, {}, applyDisplayProperties);
    sys->setSysHandle(h);
    return sys;
}

inline KORUHVNode *param(KORUHVNode *owner, const QString &name)
{
    for (KORUHVNode *p : owner->getParameters())
        if (p->getNodeName() == name)
            return p;
    return nullptr;
}

/* Channel ch of the board in slot s. */
inline KORUHVNode *channel(KORUHVNode *sys, int s, int ch)
{
    return sys->getChildren().value(s)->getChildren().value(ch);
}

/* Keys to whatever has the focus, as the operator types them. */
inline void type(const QString &text, QWidget *fallback)
{
    for (QChar c : text) {
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : fallback;
        QTest::keyClick(target, c.toLatin1());
    }
}

inline void key(Qt::Key k, QWidget *fallback)
{
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : fallback;
    QTest::keyClick(target, k);
}

/* Waits for a condition, processing events; the bound only catches a hang. */
inline bool waitFor(const std::function<bool()> &done, int ms = koru_test::kHangGuardMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

/* The channel table window of an open system's tree, shown and active;
 * cells by their column's title, the cell editor open in the table. Base is
 * the fixture that opens the system (by default none: the test does). */
template <class Base = ::testing::Test> class TableWindowTestOn : public Base {
protected:
    /* Builds the tree of handle h as the controller does and shows its
     * window at the size. */
    void showWindow(int handle, QSize size)
    {
        h = handle;
        tree.reset(buildTree(h, 2));
        window.reset(KORUHVCreateSubWindow(nullptr, nullptr, 0, false, tree.get(), "crate1", {}));
        window->resize(size);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), koru_test::kHangGuardMs));
        table = window->getTableWidget();
    }
    void TearDown() override
    {
        window.reset();
        tree.reset();
        setMainWindow(nullptr);
        Base::TearDown();
    }

    /* The column of that title, or -1. */
    int column(const QString &name) const
    {
        for (int c = 0; c < table->columnCount(); ++c)
            if (table->horizontalHeaderItem(c)->text() == name)
                return c;
        return -1;
    }
    KORUHVNode *node(int row, const QString &name) const
    {
        return QCustomTableWidget::cellNode(table->item(row, column(name)));
    }
    /* The cell editor open in the table (one that was cancelled is on its
     * way out), or null. */
    KORUHVWidgetItem *openEditor() const
    {
        for (KORUHVWidgetItem *i :
             table->viewport()->findChildren<KORUHVWidgetItem *>(Qt::FindDirectChildrenOnly))
            if (!i->isCancelled())
                return i;
        return nullptr;
    }

    int h = -1;
    std::unique_ptr<KORUHVNode> tree;
    std::unique_ptr<QSubWindow> window;
    QCustomTableWidget *table = nullptr;
};
using TableWindowTest = TableWindowTestOn<>;

} // namespace vt

#endif
