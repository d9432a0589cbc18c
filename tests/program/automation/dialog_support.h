// Helpers of the dialog tests: a main window that registers itself as the
// program's; modal boxes are answered with koru_test::answerNextModal
// (modal_answer.h).
#ifndef AUTOMATION_DIALOG_SUPPORT_H
#define AUTOMATION_DIALOG_SUPPORT_H

#include "AppGlobals.h"

#include <QMainWindow>

namespace autotest {

class TestMainWindow : public QMainWindow, public MainWindowServices {
public:
    TestMainWindow() { setMainWindow(this); }
    ~TestMainWindow() override { setMainWindow(nullptr); }
    void removeBoardFromGroups(int, unsigned short) override {}
    QMainWindow *mainWindowWidget() override { return this; }
};

} // namespace autotest

#endif
