/* main() of the tree, configuration and file tests: GoogleTest with one
 * QApplication for the whole run, on the offscreen platform (node cells are
 * table items and build fonts and colours). Set here as well as in the test
 * environment, because test discovery runs the binary outside ctest. */
#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

/* Leak checking stays on here (it is clean with the offscreen platform):
 * every list the wrapper hands out must be released, every node and
 * property the builder makes must have an owner. */
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=1";
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
