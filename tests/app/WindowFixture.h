// The real window, on Qt's offscreen platform, driven through its controls against the tests' RabbitMQ node
// (port KEZ_TEST_AMQP_PORT, user kez/juq as the window offers). Waits pump the event loop until a deadline.
#pragma once

#include "kezApp_ClientWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <random>

namespace kez::test {

inline std::string UniqueName(const std::string& aPrefix) {
    static std::mt19937_64 random{std::random_device{}()};
    return aPrefix + "-" + std::to_string(random() % 1000000000);
}

// Pumps the GUI thread's events until aCondition holds or aTimeoutMs passes; returns aCondition().
inline bool PumpUntil(const std::function<bool()>& aCondition, int aTimeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    while (!aCondition()) {
        if (std::chrono::steady_clock::now() >= deadline) return aCondition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class WindowTest : public testing::Test {
protected:
    WindowTest() {
        // A message box nobody expected would wait for a click forever: it is closed and fails the test.
        FBoxWatch.setInterval(50);
        QObject::connect(&FBoxWatch, &QTimer::timeout, [this] {
            if (FExpectingBox) return;
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "unexpected message box: " << box->text().toStdString();
                box->done(QMessageBox::Ok);
            }
        });
        FBoxWatch.start();
        Window = std::make_unique<TfrmClientPROTOCOL>();
        Window->show();
        Window->txtHost->setText("127.0.0.1");
        Window->txtDefaultPort->setText(QString::number(KEZ_TEST_AMQP_PORT));
    }
    ~WindowTest() override {
        Click(Window->btnStop);
        Window.reset();
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        for (const QString& line : Window->memoLog->toPlainText().split('\n'))
            if (!line.isEmpty()) lines.push_back(line.toStdString());
        return lines;
    }
    size_t LogCount() const { return static_cast<size_t>(Window->memoLog->blockCount()); }
    bool HasLine(const std::string& aLine) const {
        const auto lines = LogLines();
        return std::find(lines.begin(), lines.end(), aLine) != lines.end();
    }
    bool WaitLine(const std::string& aLine, int aTimeoutMs = 10000) const {
        return PumpUntil([&] { return HasLine(aLine); }, aTimeoutMs);
    }
    size_t CountPrefix(const std::string& aPrefix) const {
        const auto lines = LogLines();
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& aLine) {
            return aLine.rfind(aPrefix, 0) == 0;
        }));
    }
    std::vector<std::string> Captions(QListWidget* aList) const {
        std::vector<std::string> captions;
        for (int i = 0; i < aList->count(); ++i)
            captions.push_back(aList->item(i)->text().toStdString());
        return captions;
    }

    static void Click(QAbstractButton* aButton) { QTest::mouseClick(aButton, Qt::LeftButton); }
    static void Type(QLineEdit* aBox, const std::string& aText) {
        aBox->setText(QString::fromStdString(aText));
    }

    // Runs aAction and returns the text of the modal message box it shows (closing it), or "" when none
    // comes.
    std::string ModalBoxText(const std::function<void()>& aAction) {
        FExpectingBox = true;
        std::string text;
        QTimer closer;
        closer.setInterval(20);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text().toStdString();
                box->done(QMessageBox::Ok);
            }
        });
        closer.start();
        aAction();
        FExpectingBox = false;
        return text;
    }

    // Start with the window's defaults, pointed at the tests' node; waits for the AMQP handshake.
    bool Start() {
        Click(Window->btnStart);
        return WaitLine("#AMQP_connected");
    }

    std::unique_ptr<TfrmClientPROTOCOL> Window;

private:
    QTimer FBoxWatch;
    bool FExpectingBox = false;
};

} // namespace kez::test
