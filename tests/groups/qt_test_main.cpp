/* main() of the model and widget tests: GoogleTest with one QApplication for
 * the whole run. ctest sets the offscreen platform and the sanitizer options;
 * the defaults here make a run by hand behave the same. */
#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

/* Qt keeps some allocations until exit (ASAN_OPTIONS overrides this);
 * leak checking stays on for the libraries' own tests. */
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
