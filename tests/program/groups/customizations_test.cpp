// Saving and loading customizations with real files: what a save writes
// (byte for byte the model's encoding), that a failed write is reported,
// and that loading reconnects only usable, ticked rows and applies them.
#include "FakeWrapper.h"
#include "KORUHVUtils.h"
#include "KvcStream.h"
#include "QLoadCustDialog.h"
#include "QSaveCustDialog.h"
#include "groups_fixture.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Customizations : public gt::CustomizationsTest {
protected:
    void SetUp() override
    {
        gt::CustomizationsTest::SetUp();
        ASSERT_TRUE(dir.isValid());
    }
    // Answers the next file chooser with path (or cancels with an empty one).
    static std::shared_ptr<bool> chooseFile(const QString &path)
    {
        return koru_test::answerNextModal<QFileDialog>(
            [path](QFileDialog *d) {
                if (path.isEmpty()) {
                    d->reject();
                    return;
                }
                d->setOption(QFileDialog::DontConfirmOverwrite, true);
                // The name goes into the name field, as an operator types it;
                // selecting it in the (asynchronous) listing is not reliable.
                d->setDirectory(QFileInfo(path).absolutePath());
                if (auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    edit->setText(QFileInfo(path).fileName());
                else
                    d->selectFile(path);
                // done() skips the dialog's wait for its directory listing.
                QMetaObject::invokeMethod(d, "done", Q_ARG(int, QDialog::Accepted));
            },
            5000, koru_test::AfterAnswer::CloseAfterBound);
    }
    void save(const QString &path, const QVector<bool> &ticks)
    {
        auto saveDone = koru_test::answerNextModal<QSaveCustDialog>(
            [ticks](QSaveCustDialog *d) {
                for (int i = 0; i < ticks.size(); ++i)
                    d->boxes()[i]->setChecked(ticks[i]);
                d->buttons()->button(QDialogButtonBox::Ok)->click();
            },
            5000, koru_test::AfterAnswer::CloseAfterBound);
        auto chosen = chooseFile(path);
        controller->saveCustomizedViews();
        EXPECT_TRUE(*saveDone);
        EXPECT_TRUE(*chosen);
    }
    static QByteArray bytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString &path, const QByteArray &data)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    static QByteArray encoded(KORUHVNode *root, bool withView, bool withCustomView)
    {
        return KvcStream::encode(KORUHVUtils::KORUHVCreateHashFromNodeVector(root, withView, withCustomView));
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Customizations, SaveWritesEveryTreeAsTheModelEncodesItAndAgainIdentically)
{
    KORUHVNode *a = connect(gt::crate(2, 2), "HV1", "127.0.0.2");
    KORUHVNode *b = connect(gt::crate(1, 3), "HV2", "127.0.0.3");
    gt::channel(a, 1, 0)->setNodeEnabled(false);
    gt::channel(b, 0, 2)->setEnabledInCustomView(true);
    controller->customViewCreationDialogCallback();
    ASSERT_EQ(controller->hasCustomView(), 2);

    const QString chosen = dir.filePath("setup");
    save(chosen, {true, false, true});
    EXPECT_TRUE(QFile::exists(dir.filePath("setup.ksc")));
    const QString folder = dir.filePath("setup");
    EXPECT_EQ(QDir(folder).entryList({"*.kvc"}, QDir::Files, QDir::Name),
              QStringList({"HV1-127_0_0_2.kvc", "HV2-127_0_0_3.kvc", "customView-.kvc"}));
    EXPECT_EQ(bytes(folder + "/HV1-127_0_0_2.kvc"), encoded(a, true, true));
    EXPECT_EQ(bytes(folder + "/HV2-127_0_0_3.kvc"), encoded(b, false, true)) << "unticked: custom view only";

    const QByteArray first = bytes(folder + "/HV1-127_0_0_2.kvc");
    write(folder + "/operator-notes.kvc", "keep me");
    save(dir.filePath("setup.ksc"), {true, false, true});
    EXPECT_EQ(bytes(folder + "/HV1-127_0_0_2.kvc"), first) << "same choices, same bytes";
    EXPECT_EQ(bytes(folder + "/operator-notes.kvc"), QByteArray("keep me")) << "other files stay";
}

TEST_F(Customizations, CancelledChoiceWritesNothingAndAFailedWriteIsReported)
{
    connect(gt::crate(1, 1), "HV1", "127.0.0.2");
    save(QString(), {true});
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

    // The folder's name is taken by a plain file: the system file cannot go.
    write(dir.filePath("blocked"), "x");
    auto warned = koru_test::answerNextModal<QMessageBox>(
        [](QMessageBox *box) {
            EXPECT_EQ(box->windowTitle(), QStringLiteral("LUMO2020"));
            EXPECT_TRUE(box->text().contains("HV1-127_0_0_2.kvc")) << box->text().toStdString();
            box->accept();
        },
        5000, koru_test::AfterAnswer::CloseAfterBound);
    save(dir.filePath("blocked.ksc"), {true});
    EXPECT_TRUE(*warned) << "a save that failed is never silent";
    EXPECT_EQ(bytes(dir.filePath("blocked")), QByteArray("x"));
}

TEST_F(Customizations, HostileAndBrokenFilesGiveDisabledRowsThatNeverConnect)
{
    connect(gt::crate(1, 1), "HV0", "127.0.0.2");
    const QString folder = dir.filePath("mixed");
    ASSERT_TRUE(QDir().mkpath(folder));
    auto kvc = [&](const QString &file, const QString &name, const QString &init, int ps, int conn) {
        KvcStream::Hash h;
        h.insert("name", name);
        h.insert("initParam", init);
        h.insert("psType", ps);
        h.insert("connType", conn);
        h.insert("isCustomView", 0);
        write(folder + "/" + file, KvcStream::encode(h));
    };
    write(dir.filePath("mixed.ksc"), "");
    kvc("a-good.kvc", "HV5", "127.0.0.5", 2, 0);
    kvc("b-long.kvc", "HV6", QString(200, '9'), 2, 0);
    kvc("c-type.kvc", "HV7", "127.0.0.7", 99, 0);
    kvc("d-link.kvc", "HV8", "127.0.0.8", 2, 42);
    write(folder + "/e-garbage.kvc", QByteArray("\xff\xff\xff\xff not a hash", 15));
    write(folder + "/f-truncated.kvc", KvcStream::encode([] {
                                           KvcStream::Hash h;
                                           h.insert("name", QStringLiteral("T"));
                                           return h;
                                       }())
                                           .left(7));

    fakehv::queueInit(gt::crate(1, 2));
    QVector<bool> enabled;
    auto loaded = koru_test::answerNextModal<QLoadCustDialog>(
        [&](QLoadCustDialog *d) {
            for (QWidget *row : d->rows()) {
                enabled << row->isEnabled();
                // Ticking a disabled row by program must not make it connect.
                row->findChild<QCheckBox *>()->setChecked(true);
            }
            d->buttons()->button(QDialogButtonBox::Ok)->click();
        },
        5000, koru_test::AfterAnswer::CloseAfterBound);
    auto chosen = chooseFile(dir.filePath("mixed.ksc"));
    controller->loadCustomizedViews();
    EXPECT_TRUE(*chosen);
    ASSERT_TRUE(*loaded);
    EXPECT_EQ(enabled, QVector<bool>({true, false, false, false, false, false}));
    const auto inits = fakehv::callsOf("KORUHV_InitSystem");
    ASSERT_EQ(inits.size(), 1u) << "only the usable row connects";
    ASSERT_EQ(host.entries.size(), 2u);
    EXPECT_EQ(host.entries[1].root->getInitParam(), QStringLiteral("127.0.0.5"));
}

TEST_F(Customizations, SaveDisconnectLoadReconnectsAndRestoresViewsAndTheCustomView)
{
    KORUHVNode *a = connect(gt::crate(2, 2, "On", "Off", 100), "HV1", "127.0.0.2");
    KORUHVNode *b = connect(gt::crate(1, 2, "On", "Off", 200), "HV2", "127.0.0.3");
    gt::channel(a, 1, 1)->setNodeEnabled(false);
    gt::channel(a, 1, 1)->setVisualIndex(7);
    gt::channel(b, 0, 1)->setEnabledInCustomView(true);
    gt::channel(b, 0, 1)->setCustomViewVisualIndex(0);
    gt::channel(a, 0, 0)->setEnabledInCustomView(true);
    gt::channel(a, 0, 0)->setCustomViewVisualIndex(1);
    controller->customViewCreationDialogCallback();
    save(dir.filePath("round"), {true, true, true});

    while (!host.entries.empty())
        host.disconnect(*controller, int(host.entries.size()) - 1);

    fakehv::queueInit(gt::crate(2, 2, "On", "Off", 100));
    fakehv::queueInit(gt::crate(1, 2, "On", "Off", 200));
    auto loaded = koru_test::answerNextModal<QLoadCustDialog>(
        [](QLoadCustDialog *d) {
            EXPECT_EQ(d->rows().size(), 3);
            for (QWidget *row : d->rows())
                EXPECT_TRUE(row->isEnabled());
            d->buttons()->button(QDialogButtonBox::Ok)->click();
        },
        5000, koru_test::AfterAnswer::CloseAfterBound);
    auto chosen = chooseFile(dir.filePath("round.ksc"));
    controller->loadCustomizedViews();
    ASSERT_TRUE(*loaded);
    ASSERT_EQ(host.entries.size(), 3u) << "two crates and the custom view";
    KORUHVNode *a2 = host.entries[0].root.get();
    KORUHVNode *b2 = host.entries[1].root.get();
    EXPECT_EQ(a2->getNodeName(), QStringLiteral("HV1"));
    EXPECT_FALSE(gt::channel(a2, 1, 1)->isNodeEnabled());
    EXPECT_EQ(gt::channel(a2, 1, 1)->getVisualIndex(), 7);
    EXPECT_TRUE(gt::channel(b2, 0, 1)->isEnabledInCustomView());
    EXPECT_EQ(gt::channel(a2, 0, 0)->getCustomViewVisualIndex(), 1);
    ASSERT_TRUE(host.entries[2].isCustomView);
    EXPECT_EQ(host.entries[2].root->getChildren(), QVector<KORUHVNode *>({a2, b2}));

    // Saving the same choices again gives the same bytes.
    const QByteArray before = bytes(dir.filePath("round/HV1-127_0_0_2.kvc"));
    save(dir.filePath("round.ksc"), {true, true, true});
    EXPECT_EQ(bytes(dir.filePath("round/HV1-127_0_0_2.kvc")), before);
}

TEST_F(Customizations, LimitOfFourCountsMainInterfacesAndConnectedRowsAreFree)
{
    connect(gt::crate(1, 1), "HV1", "127.0.0.2");
    connect(gt::crate(1, 1), "HV2", "127.0.0.3");
    const QString folder = dir.filePath("many");
    ASSERT_TRUE(QDir().mkpath(folder));
    write(dir.filePath("many.ksc"), "");
    const struct {
        const char *file, *name, *init;
    } rows[] = {{"1.kvc", "HV1", "127.0.0.2"},
                {"2.kvc", "HV3", "127.0.0.4"},
                {"3.kvc", "HV4", "127.0.0.5"},
                {"4.kvc", "HV5", "127.0.0.6"}};
    for (const auto &r : rows) {
        KvcStream::Hash h;
        h.insert("name", QString(r.name));
        h.insert("initParam", QString(r.init));
        h.insert("psType", 2);
        h.insert("connType", 0);
        h.insert("isCustomView", 0);
        write(folder + "/" + r.file, KvcStream::encode(h));
    }
    QLoadCustDialog dialog(&host.window, dir.filePath("many.ksc"), controller.get());
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    ASSERT_EQ(dialog.rows().size(), 4);
    auto ticked = [&](int i) { return dialog.rows()[i]->findChild<QCheckBox *>()->isChecked(); };
    EXPECT_TRUE(ticked(0)) << "connected";
    EXPECT_FALSE(dialog.rows()[0]->findChild<QLineEdit *>("user")->isEnabled()) << "its login is not asked";
    EXPECT_TRUE(ticked(1));
    EXPECT_TRUE(ticked(2));
    EXPECT_FALSE(ticked(3));
    EXPECT_FALSE(dialog.rows()[3]->isEnabled()) << "beyond the limit";
    dialog.rows()[2]->findChild<QCheckBox *>()->setChecked(false);
    EXPECT_TRUE(dialog.rows()[3]->isEnabled());
}

TEST_F(Customizations, AConnectedSystemIsNotReconnectedButGetsItsStoredView)
{
    KORUHVNode *a = connect(gt::crate(1, 2, "On", "Off", 300), "HV1", "127.0.0.2");
    gt::channel(a, 0, 1)->setNodeEnabled(false);
    save(dir.filePath("again"), {true});
    gt::channel(a, 0, 1)->setNodeEnabled(true);
    fakehv::clearCalls();
    const int reapplied = host.reapplied;
    auto loaded = koru_test::answerNextModal<QLoadCustDialog>(
        [](QLoadCustDialog *d) {
            ASSERT_EQ(d->rows().size(), 1);
            EXPECT_TRUE(d->rows()[0]->findChild<QCheckBox *>()->isChecked());
            d->buttons()->button(QDialogButtonBox::Ok)->click();
        },
        5000, koru_test::AfterAnswer::CloseAfterBound);
    auto chosen = chooseFile(dir.filePath("again.ksc"));
    controller->loadCustomizedViews();
    ASSERT_TRUE(*loaded);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_InitSystem").empty());
    EXPECT_EQ(host.connectCalls, 0);
    EXPECT_FALSE(gt::channel(a, 0, 1)->isNodeEnabled()) << "stored view applied";
    EXPECT_EQ(host.reapplied, reapplied + 1) << "its table shows the Custom view again";
}
