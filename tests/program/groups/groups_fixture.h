// The fixture of the tests over the customizations controller: a fresh fake
// wrapper and the controller over the host's menu; at the end every dialog
// closed, and what the controller made gone before the systems it shows.
// (Apart from groups_support.h, which the custom-view benchmark uses
// without GoogleTest.)
#ifndef GROUPS_FIXTURE_H
#define GROUPS_FIXTURE_H

#include "FakeWrapper.h"
#include "KORUHVCustomizations.h"
#include "groups_support.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace gt {

template <class Host = FakeHost> class CustomizationsTestOf : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        controller = std::make_unique<KORUHVCustomizations>(&host, &host.menu);
    }
    void TearDown() override
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog *>(w))
                w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        releaseWindows();
        controller.reset();
        host.entries.clear();
        fakehv::reset();
    }
    // Windows of the host's own that show the controller's work, closed
    // before the controller goes.
    virtual void releaseWindows() {}

    // A fake system opened, its tree built as the program builds it.
    KORUHVNode *connect(const fakehv::System &sys, const QString &name, const QString &address)
    {
        return host.connectTree(fakehv::addSystem(sys), name, address);
    }
    // A click on an item of a dialog's tree, as the operator makes it (its
    // parents expanded, scrolled into view).
    static void click(QTreeWidget *tree, QTreeWidgetItem *item)
    {
        for (QTreeWidgetItem *up = item->parent(); up; up = up->parent())
            up->setExpanded(true);
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    }

    Host host;
    std::unique_ptr<KORUHVCustomizations> controller;
};

using CustomizationsTest = CustomizationsTestOf<>;

} // namespace gt

#endif
