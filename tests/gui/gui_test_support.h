// Shared helpers of the window tests: a fresh set of windows per test and an
// offscreen platform when none was chosen.
#pragma once

#include <cstdlib>

#include <QApplication>
#include <QTest>

#include "app/ui/form1.h"
#include "app/ui/forms.h"

namespace tsx::testing {

// Creates the six windows and shows the main window, as the program does.
inline void startProgram()
{
    createForms();
    Form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
}

inline void endProgram()
{
    if (Form1 && Form1->isRendering())
        QTRY_VERIFY_WITH_TIMEOUT(!Form1->isRendering(), 60000);
    destroyForms();
}

// Runs a QTest class with the offscreen platform unless one was chosen.
template <class TestClass>
int runWindowTests(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    TestClass tests;
    return QTest::qExec(&tests, argc, argv);
}

}  // namespace tsx::testing

#define TSX_WINDOW_TEST_MAIN(TestClass) \
    int main(int argc, char** argv) { return tsx::testing::runWindowTests<TestClass>(argc, argv); }
