// A set group is the entry of the groups menu, not its members: two groups
// may hold the same members, and deleting one deletes that one only.
#include "FakeWrapper.h"
#include "QSetGroupValueDialog.h"
#include "groups_fixture.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"

#include <QAction>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class GroupIdentity : public gt::CustomizationsTest {
protected:
    void SetUp() override
    {
        gt::CustomizationsTest::SetUp();
        root = connect(gt::crate(1, 2), "HV1", "127.0.0.2");
    }
    QVector<KORUHVNode *> sameMembers() const
    {
        QVector<KORUHVNode *> out;
        for (int c = 0; c < 2; ++c)
            out << gt::channel(root, 0, c) << gt::param(gt::channel(root, 0, c), "V0Set");
        return out;
    }
    QStringList menuTexts() const
    {
        QStringList out;
        for (QAction *a : host.menu.actions())
            out << a->text() + "/" + a->objectName();
        return out;
    }

    KORUHVNode *root = nullptr;
};

} // namespace

TEST_F(GroupIdentity, DeletingAGroupDeletesThatGroupEvenWhenAnotherHasTheSameMembers)
{
    const struct {
        int deleted;
        QStringList left;
    } cases[] = {
        {1, {"First/0", "Third/1"}},
        {2, {"First/0", "Second/1"}},
        {0, {"Second/0", "Third/1"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.deleted);
        while (!host.menu.actions().isEmpty()) {
            QAction *a = host.menu.actions().first();
            host.menu.removeAction(a);
            delete a;
        }
        controller = std::make_unique<KORUHVCustomizations>(&host, &host.menu);
        for (const char *name : {"First", "Second", "Third"})
            controller->groupCreatedCallback(sameMembers(), name);
        ASSERT_EQ(controller->getGroups().size(), 3);

        // The operator opens the group from the menu and deletes it.
        host.menu.actions().at(c.deleted)->trigger();
        auto *dialog = qobject_cast<QSetGroupValueDialog *>(controller->lastDialog());
        ASSERT_TRUE(dialog);
        dialog->show();
        auto asked = koru_test::answerNextModal<QMessageBox>(
            [](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); }, 5000,
            koru_test::AfterAnswer::CloseAfterBound);
        QTest::mouseClick(dialog->deleteButton(), Qt::LeftButton);
        EXPECT_TRUE(*asked);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(menuTexts(), c.left);
        EXPECT_EQ(controller->getGroups().size(), 2);
    }
}
