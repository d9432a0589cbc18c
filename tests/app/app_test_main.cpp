/* main() of the shell's tests: one QApplication for the run. */
#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0:new_delete_type_mismatch=0";
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
