// The main() of every test executable: a real QApplication (xcb under the test X
// server, offscreen elsewhere), then GoogleTest.
#include "platform/Prompts.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Tests find the build's programs and libraries through this variable.
    if (qEnvironmentVariableIsEmpty("VX_TEST_BINARY_DIR"))
        qputenv("VX_TEST_BINARY_DIR", VX_TEST_BINARY_DIR);
    // Listing tests must not need a display.
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexmira"));
    // The windows under test speak Chinese as the program's do.
    InstallChineseQtTexts();
    return RUN_ALL_TESTS();
}
