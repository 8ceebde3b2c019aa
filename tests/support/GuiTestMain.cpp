// Entry point of the GUI test programs: one QApplication for all tests, on the offscreen platform, with the
// program's own fonts and look.
#include "app/Application.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Pages that fetch the lookup page on their own ask a closed loopback port unless a test names a server.
    if (!qEnvironmentVariableIsSet("TOLVAR_LOOKUP_URL")) {
        qputenv("TOLVAR_LOOKUP_URL", "http://127.0.0.1:1/");
    }
    QApplication app(argc, argv);
    ConfigureApplication();
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests start the test program afresh, so the child gets a QApplication of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
