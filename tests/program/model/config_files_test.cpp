// Saved configuration files: names, the main file's content, per-system
// files written and read back, hostile files, and saves that fail.
#include "KORUHVUtils.h"
#include "tree_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Runs fn with writes limited to a few bytes per file, the way a full disk
// or an interrupted save stops a write half way.
template <typename Fn> auto withTinyFileSizeLimit(Fn fn)
{
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 8;
    setrlimit(RLIMIT_FSIZE, &tiny);
    auto result = fn();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

} // namespace

TEST(ConfigFileNames, MainFileBaseNameAndFolder)
{
    struct Case {
        const char *chosen, *main, *base, *folder;
    };
    const Case cases[] = {
        {"/d/cfg", "/d/cfg.ksc", "cfg", "/d/cfg"},
        {"/d/cfg.ksc", "/d/cfg.ksc", "cfg", "/d/cfg"},
        {"/d/cfg.KSC", "/d/cfg.KSC", "cfg", "/d/cfg"},
        {"/d/cfg.ksc.ksc", "/d/cfg.ksc.ksc", "cfg.ksc", "/d/cfg.ksc"},
        {"/d/run.old", "/d/run.old.ksc", "run.old", "/d/run.old"},
        {"/d/run.old.ksc", "/d/run.old.ksc", "run.old", "/d/run.old"},
        {"/d/cfg.kscx", "/d/cfg.kscx.ksc", "cfg.kscx", "/d/cfg.kscx"},
        {"cfg", "cfg.ksc", "cfg", "./cfg"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(KORUHVUtils::KORUHVMainConfigurationFilePath(c.chosen), QString(c.main)) << c.chosen;
        EXPECT_EQ(KORUHVUtils::KORUHVConfigurationBaseName(c.chosen), QString(c.base)) << c.chosen;
        EXPECT_EQ(KORUHVUtils::KORUHVConfigurationFolderPath(c.chosen), QString(c.folder)) << c.chosen;
    }
}

TEST(ConfigFileNames, PerSystemFileNames)
{
    struct Case {
        const char *name, *initParam, *file;
    };
    const Case cases[] = {
        // ordinary names: exactly the established form
        {"HV1", "10.0.0.5", "/f/HV1-10_0_0_5.kvc"},
        {"HV1", "ttyUSB0_9600_8_0_0", "/f/HV1-ttyUSB0_9600_8_0_0.kvc"},
        {"Crate A", "192.168.1.20_3", "/f/Crate A-192_168_1_20_3.kvc"},
        {"KORU", "", "/f/KORU-.kvc"},
        {"x.y", "1.2", "/f/x.y-1_2.kvc"},
        // names that would leave the folder
        {"../../etc/x", "1.2", "/f/.._.._etc_x-1_2.kvc"},
        {"HV1", "pts/3_9600", "/f/HV1-pts_3_9600.kvc"},
        {"a\\b", "x", "/f/a_b-x.kvc"},
        {"tab\there", "x", "/f/tab_here-x.kvc"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(
            KORUHVUtils::KORUHVSingleConfigurationFilePath("/f", QString::fromUtf8(c.name), c.initParam),
            QString::fromUtf8(c.file))
            << c.name;
}

TEST(ConfigFiles, MainFileHoldsItsBaseName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char *chosen, *written, *content;
    };
    const Case cases[] = {
        {"cfg", "cfg.ksc", "cfg"},
        {"up.KSC", "up.KSC", "up"},
        {"two.ksc.ksc", "two.ksc.ksc", "two.ksc"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(KORUHVUtils::KORUHVSaveMainConfigurationFile(dir.filePath(c.chosen))) << c.chosen;
        EXPECT_EQ(readAll(dir.filePath(c.written)).toHex().toStdString(),
                  mt::Bytes().str(QString(c.content)).b.toHex().toStdString())
            << c.chosen;
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("up.KSC.ksc")));
    // A folder path has no base name: nothing is written, and it says so.
    EXPECT_FALSE(KORUHVUtils::KORUHVSaveMainConfigurationFile(dir.path() + "/"));
    EXPECT_FALSE(KORUHVUtils::KORUHVSaveMainConfigurationFile(dir.filePath("missing/cfg")));
}

TEST(ConfigFiles, PerSystemFileIsTheFixtureAndLoadsBack)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath("sub/cfg"); // created with its parents
    KORUHVNode *sys = mt::fixtureTree();
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveSingleConfigurationFile(folder, sys, true, true));
    const QString file = folder + "/HV1-10_0_0_5.kvc";
    EXPECT_EQ(readAll(file).toHex().toStdString(), mt::fixtureBytes().toHex().toStdString());

    const QMultiHash<QString, QVariant> loaded = KORUHVUtils::KORUHVLoadConfigurationFile(file);
    std::string why;
    EXPECT_TRUE(mt::deepEqual(loaded, KORUHVUtils::KORUHVCreateHashFromNodeVector(sys, true, true), &why))
        << why;

    // Saving again replaces the file (same name and address, same file).
    sys->getChildren()[0]->setVisualIndex(7);
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveSingleConfigurationFile(folder, sys, true, true));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1);
    const auto again = KORUHVUtils::KORUHVLoadConfigurationFile(file);
    EXPECT_EQ(KvcStream::hashFromVariant(again.value("boards")).value("visualIndex").toInt(), 7);

    EXPECT_FALSE(KORUHVUtils::KORUHVSaveSingleConfigurationFile(folder, nullptr, true, true));
    delete sys;
}

TEST(ConfigFiles, UnsafeSystemNameStaysInsideTheFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath("cfg");
    KORUHVNode *sys = mt::makeSystem("../escape", 6, 5, "pts/4_9600_8_0_0");
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveSingleConfigurationFile(folder, sys, true, false));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList{".._escape-pts_4_9600_8_0_0.kvc"});
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    const auto loaded = KORUHVUtils::KORUHVLoadConfigurationFile(folder + "/.._escape-pts_4_9600_8_0_0.kvc");
    EXPECT_EQ(loaded.value("name").toString(), QStringLiteral("../escape")); // the name itself is kept
    delete sys;
}

TEST(ConfigFiles, UnreadableFilesLoadAsEmpty)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray full = mt::fixtureBytes();
    struct Case {
        const char *what;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"zero length", QByteArray()},
        {"cut in the middle", full.left(full.size() / 2)},
        {"cut one byte short", full.left(full.size() - 1)},
        {"not a configuration", QByteArray("plain text, not a stream\n")},
    };
    for (const Case &c : cases) {
        const QString path = dir.filePath("x.kvc");
        writeAll(path, c.bytes);
        EXPECT_TRUE(KORUHVUtils::KORUHVLoadConfigurationFile(path).isEmpty()) << c.what;
    }
    EXPECT_TRUE(KORUHVUtils::KORUHVLoadConfigurationFile(dir.filePath("missing.kvc")).isEmpty());
    EXPECT_TRUE(KORUHVUtils::KORUHVLoadConfigurationFile(dir.path()).isEmpty()) << "a folder";
}

TEST(ConfigFiles, FailedSaveKeepsThePreviousFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath("cfg");
    KORUHVNode *sys = mt::fixtureTree();
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveSingleConfigurationFile(folder, sys, true, true));
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveMainConfigurationFile(dir.filePath("cfg")));
    const QString kvc = folder + "/HV1-10_0_0_5.kvc";
    const QString ksc = dir.filePath("cfg.ksc");
    const QByteArray oldKvc = readAll(kvc);
    const QByteArray oldKsc = readAll(ksc);

    sys->getChildren()[0]->setVisualIndex(9);
    const bool kvcSaved = withTinyFileSizeLimit(
        [&] { return KORUHVUtils::KORUHVSaveSingleConfigurationFile(folder, sys, true, true); });
    const bool kscSaved = withTinyFileSizeLimit(
        [&] { return KORUHVUtils::KORUHVSaveMainConfigurationFile(dir.filePath("cfg")); });
    EXPECT_FALSE(kvcSaved);
    EXPECT_FALSE(kscSaved);
    EXPECT_EQ(readAll(kvc), oldKvc);
    EXPECT_EQ(readAll(ksc), oldKsc);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"HV1-10_0_0_5.kvc"})
        << "no leftovers";
    delete sys;
}

TEST(ConfigFiles, DeleteRemovesAndMissingIsNoError)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("a.kvc");
    writeAll(path, "x");
    EXPECT_TRUE(KORUHVUtils::KORUHVDeleteConfigurationFile(path));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(KORUHVUtils::KORUHVDeleteConfigurationFile(path));
}
