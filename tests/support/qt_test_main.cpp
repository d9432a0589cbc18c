/* main() of the program-side Qt tests: GoogleTest with one QApplication for
 * the whole run, on the offscreen platform unless one is set. ctest sets the
 * platform and the sanitizer options; the defaults here make a run by hand,
 * and test discovery (which runs the binary outside ctest), behave the same.
 *
 * Built in flavours by tests/support/CMakeLists.txt:
 *   KORU_QT_TEST_LEAK_CHECK        leak checking on (tree and file tests:
 *                                  every list the wrapper hands out must be
 *                                  released, every node must have an owner);
 *   KORU_QT_TEST_SHARE_GL_CONTEXTS shared OpenGL contexts before the
 *                                  application exists, as the web engine asks. */
#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

/* Qt keeps some allocations until exit (ASAN_OPTIONS overrides this). */
extern "C" const char *__asan_default_options()
{
#if defined(KORU_QT_TEST_LEAK_CHECK)
    return "detect_leaks=1";
#else
    return "detect_leaks=0:new_delete_type_mismatch=0";
#endif
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    ::testing::InitGoogleTest(&argc, argv);
#ifdef KORU_QT_TEST_SHARE_GL_CONTEXTS
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
