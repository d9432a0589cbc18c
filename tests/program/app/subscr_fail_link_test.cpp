/* The subscription-failure log lives in the working folder, which others may
 * be able to write into: a symbolic link planted at its name is replaced by
 * the log, never written through, and "Details.." shows the log itself. */
#include "shell_fixture.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextBrowser>

TEST_F(ShellTest, ALinkPlantedAtTheFailureLogsNameIsReplacedAndItsTargetKept)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("operators-file"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the operator's own data\n");
    }
    const QString logName = env->path(QStringLiteral("RORERAVA2020SubscrFail_Crate.log"));
    ASSERT_TRUE(QFile::link(target, logName));

    fakehv::System sys = crate();
    sys.refusedSubscriptions = {"HVMax"};
    ModalAnswerer answer(clickButton(QStringLiteral("Details..")));
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("Crate"), sys), 0);
    ASSERT_EQ(answer.seen().size(), 1);

    QFile kept(target);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("the operator's own data\n")) << "written through the planted link";
    const QFileInfo at(logName);
    EXPECT_FALSE(at.isSymLink());
    QFile log(logName);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(log.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("List of unsubscribed parameters:\n\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("Crate\t|\t0\t|\t       \t|\tHVMax\n")));

    QTextBrowser *details = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *b = qobject_cast<QTextBrowser *>(w))
            details = b;
    ASSERT_TRUE(details);
    EXPECT_EQ(details->toPlainText(), text);
    delete details;
}
