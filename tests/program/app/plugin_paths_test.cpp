/* The start-up's plug-in paths: a plug-in planted in the folder the program
 * is started from is never loaded. */
#include "ProgramStartup.h"
#include "app_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <gtest/gtest.h>

TEST(PluginPaths, APluginInTheWorkingFolderIsNotLoaded)
{
    ShellTestEnvironment env; /* the working folder is a fresh temporary one */
    const QString formats = env.path(QStringLiteral("plugins/imageformats"));
    ASSERT_TRUE(QDir().mkpath(formats));
    const QString planted = formats + QStringLiteral("/libkorutrap.so");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KORU_TRAP_IMAGEPLUGIN), planted));
    ASSERT_FALSE(QImageReader::supportedImageFormats().contains("korutrap"));

    KORUHVAddPluginPaths();

    const QString plugins = QFileInfo(env.path(QStringLiteral("plugins"))).canonicalFilePath();
    EXPECT_FALSE(QCoreApplication::libraryPaths().contains(plugins)) << qPrintable(plugins);
    EXPECT_FALSE(QImageReader::supportedImageFormats().contains("korutrap"))
        << "the plug-in planted in the working folder was loaded";

    /* The planted plug-in itself is sound: Qt takes it from a plug-in path. */
    QCoreApplication::addLibraryPath(plugins);
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("korutrap"));
    QCoreApplication::removeLibraryPath(plugins);
}
