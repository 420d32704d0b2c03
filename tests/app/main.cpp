// The GUI tests run the window's own Qt application on the offscreen platform.
#include "kezQt_MainThread.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kez::TkezQtMainThreadDispatcher::Install();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
