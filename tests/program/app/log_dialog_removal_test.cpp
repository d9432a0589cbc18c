/* The data-logging dialog of a system that is disconnected while it is open
 * closes, says so in a box of its own and changes nothing; a dialog of
 * another system stays. */
#include "QLogDialog.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "shell_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace {

class LogDialogRemoval : public ShellTest {};

QMessageBox *goneBox()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("logDialogSystemGoneBox") && w->isVisible())
            return qobject_cast<QMessageBox *>(w);
    return nullptr;
}

TEST_F(LogDialogRemoval, TheDialogOfADisconnectedSystemClosesWithAMessage)
{
    ModalAnswerer answerer(clickButton()); // the last removal opens the connection dialog
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("CrateA")), 0);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.2"), QStringLiteral("CrateB")), 0);
    const QVector<QSystemInterface *> systems = window->getSysInterfaceVector();
    ASSERT_EQ(systems.size(), 2);
    KORUHVNode *nodeB = systems[1]->getSystemNode();
    QPointer<QLogDialog> ofA = new QLogDialog(systems[0]->getSystemNode(), nullptr);
    QPointer<QLogDialog> ofB = new QLogDialog(nodeB, nullptr);
    // Wired as the system panel wires the dialog it opens.
    QObject::connect(systems[0]->getSystemInfoWidget(), &QSystemInformations::treeAboutToChange, ofA.data(),
                     &QLogDialog::treeAboutToChange);
    QObject::connect(systems[1]->getSystemInfoWidget(), &QSystemInformations::treeAboutToChange, ofB.data(),
                     &QLogDialog::treeAboutToChange);
    ofA->show();
    ofB->show();

    window->disconnectFromSystem(0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ofA.isNull() || !ofA->isVisible()) << "the dialog of the removed system is closed";
    if (ofA) {
        EXPECT_EQ(ofA->system(), nullptr) << "and holds no node of the removed tree";
    }
    QMessageBox *box = goneBox();
    ASSERT_TRUE(box) << "the operator is told";
    EXPECT_TRUE(
        box->text().startsWith(QStringLiteral("CrateA was disconnected while its logging choice was open.")))
        << box->text().toStdString();
    EXPECT_FALSE(box->isModal());
    box->close();

    ASSERT_TRUE(ofB);
    EXPECT_TRUE(ofB->isVisible()) << "another system's dialog stays";
    EXPECT_EQ(ofB->system(), nodeB);
    delete ofB.data();
    delete ofA.data();
}

} // namespace
