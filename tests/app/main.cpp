// The GUI tests run the window's own Qt application on the offscreen platform.
#include "kezQt_MainThread.h"

#include <QApplication>

#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: the synchronisation inside its libraries (thread pools, atomics of
// its event queues) is invisible to it, so what happens within them is not judged here. The window's own code
// and the library beneath it stay checked.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6Widgets.so\n"
           "race:libQt6Test.so\n";
}
#endif

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kez::TkezQtMainThreadDispatcher::Install();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
