// Action-script files: names, round trips in UTF-8 whatever the locale,
// files of older versions in an 8-bit locale, empty and missing files, and
// saves that fail.
#include "KORUHVUtils.h"
#include "locale_scope.h"

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

// Every character the editor takes comes back, whatever the locale: "\u20ac"
// has no place in the C locale's 8-bit encoding, and was saved as "?".
TEST(ScriptFiles, SavedInUtf8WhateverTheLocale)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString text = QStringLiteral("set Name 0{0} HV\u20ac;\n// caf\u00e9 \u00b0C \U0001F600\n");
    const QByteArray utf8 = text.toUtf8();
    // The C locale, its UTF-8 form, and an unknown locale (which falls back
    // to the C locale).
    for (const char *locale : {"C", "C.UTF-8", "xx_YY.nonexistent"}) {
        koru_test::LocaleScope scope(locale);
        const QString path = dir.filePath(QString("s_%1").arg(locale));
        ASSERT_TRUE(KORUHVUtils::KORUHVSaveScript(path, text)) << locale;
        EXPECT_EQ(readAll(path + ".kas"), utf8) << locale;
        EXPECT_EQ(KORUHVUtils::KORUHVLoadScript(path + ".kas"), text) << locale;
    }
}

// A file saved by an older version in an 8-bit locale (Latin-1 bytes, no
// valid UTF-8) still loads with its characters, in any locale.
TEST(ScriptFiles, AnOlderLatin1FileStillLoads)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("old.kas");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("set Name 0{0} caf\xe9;\n// \xb0"
                "C\n");
    }
    for (const char *locale : {"C", "C.UTF-8"}) {
        koru_test::LocaleScope scope(locale);
        EXPECT_EQ(KORUHVUtils::KORUHVLoadScript(path),
                  QStringLiteral("set Name 0{0} caf\u00e9;\n// \u00b0C\n"))
            << locale;
    }
}

// A text that is no valid UTF-16 cannot be stored: the save is refused with
// the reason and the old file stays.
TEST(ScriptFiles, ATextThatCannotBeStoredIsRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("keep.kas");
    ASSERT_TRUE(KORUHVUtils::KORUHVSaveScript(path, kScript));
    QString why;
    EXPECT_FALSE(
        KORUHVUtils::KORUHVSaveScript(path, QStringLiteral("set Name 0{0} A") + QChar(0xd800) + "B;", &why));
    EXPECT_TRUE(why.contains(QStringLiteral("cannot be stored"))) << why.toStdString();
    EXPECT_EQ(KORUHVUtils::KORUHVLoadScript(path), kScript);
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
