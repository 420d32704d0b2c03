// The desktop window for driving an AMQP broker by hand.
#include "kezApp_ClientWindow.h"
#include "kezQt_MainThread.h"

#include <QApplication>

namespace {

// Whatever a handler lets escape reaches the user as the application's error display, never a crash.
class TkezApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* aReceiver, QEvent* aEvent) override {
        try {
            return QApplication::notify(aReceiver, aEvent);
        } catch (const std::exception& e) {
            kez::TfrmClientPROTOCOL::ShowError(activeWindow(), e.what());
        } catch (...) {
            kez::TfrmClientPROTOCOL::ShowError(activeWindow(), "Unknown error.");
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    TkezApplication application(argc, argv);
    kez::TkezQtMainThreadDispatcher::Install();
    kez::TfrmClientPROTOCOL window;
    window.show();
    return application.exec();
}
