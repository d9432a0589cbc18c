// Action-script files: names, round trips in the locale's encoding, empty
// and missing files, and saves that fail.
#include "KORUHVUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

// Sets LC_ALL for one test and puts the old value back.
class LocaleScope {
public:
    explicit LocaleScope(const char *value)
    {
        if (const char *old = std::getenv("LC_ALL")) {
            had = true;
            saved = old;
        }
        setenv("LC_ALL", value, 1);
    }
    ~LocaleScope()
    {
        if (had)
            setenv("LC_ALL", saved.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }

private:
    bool had = false;
    std::string saved;
};

const QString kScript = QStringLiteral("Wait 5;\nSet VSet 1-4 120.5;\nWait 2;\n");

} // namespace

TEST(ScriptFiles, ExtensionIsAddedUnlessPresent)
{
    struct Case {
        const char *given, *written;
    };
    const Case cases[] = {
        {"ramp", "ramp.kas"},         {"ramp.kas", "ramp.kas"},       {"ramp.KAS", "ramp.KAS"},
        {"ramp.txt", "ramp.txt.kas"}, {"a.kas.bak", "a.kas.bak.kas"},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case &c : cases) {
        EXPECT_EQ(KORUHVUtils::KORUHVScriptFilePath(c.given), QString(c.written)) << c.given;
        ASSERT_TRUE(KORUHVUtils::KORUHVSaveScript(dir.filePath(c.given), kScript)) << c.given;
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(c.written))) << c.given;
    }
}

TEST(ScriptFiles, RoundTripInTheLocaleEncoding)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString text = QStringLiteral("Set V0Set 0 12.5;\n// caf\u00e9 \u00b0C\n");
    struct Case {
        const char *locale;
        QByteArray expected; // the bytes of "caf\u00e9 \u00b0C" in that encoding
    };
    const Case cases[] = {
        {"C.UTF-8", QByteArray("caf\xc3\xa9 \xc2\xb0"
                               "C")},
        // The plain C locale is read and written byte for byte (Latin-1).
        {"C", QByteArray("caf\xe9 \xb0"
                         "C")},
        // An unknown locale falls back to the C locale.
        {"xx_YY.nonexistent", QByteArray("caf\xe9 \xb0"
                                         "C")},
    };
    for (const Case &c : cases) {
        LocaleScope scope(c.locale);
        const QString path = dir.filePath(QString("s_%1").arg(c.locale));
        ASSERT_TRUE(KORUHVUtils::KORUHVSaveScript(path, text)) << c.locale;
        const QByteArray bytes = readAll(path + ".kas");
        EXPECT_TRUE(bytes.contains(c.expected)) << c.locale << " " << bytes.toHex().toStdString();
        EXPECT_EQ(KORUHVUtils::KORUHVLoadScript(path + ".kas"), text) << c.locale;
    }
}

TEST(ScriptFiles, EmptyAndMissingFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("e.kas");
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveScript(path, kScript));
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveScript(path, QString()));
    EXPECT_EQ(QFileInfo(path).size(), 0) << "an empty text truncates the file";
    const QString empty = KORUHVUtils::KORUHVLoadScript(path);
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(KORUHVUtils::KORUHVLoadScript(dir.filePath("missing.kas")).isNull());
    EXPECT_TRUE(KORUHVUtils::KORUHVLoadScript(dir.path()).isNull()) << "a folder";
    EXPECT_FALSE(KORUHVUtils::KORUHVSaveScript(dir.filePath("no/such/dir/x"), kScript));
}

TEST(ScriptFiles, FailedSaveKeepsThePreviousScript)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("keep.kas");
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveScript(path, kScript));

    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 8; // the write stops half way, as on a full disk
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool saved = KORUHVUtils::KORUHVSaveScript(path, QStringLiteral("Wait 1;\nWait 2;\nWait 3;\n"));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(KORUHVUtils::KORUHVLoadScript(path), kScript);
}
