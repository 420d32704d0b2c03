// Start, Stop, the socket client's exceptions, the log and the error display.
#include "kezApp_ClientWindow.h"
#include "kezApp_Integer.h"

#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>
#include <QThread>

namespace kez {

TfrmClientPROTOCOL::~TfrmClientPROTOCOL() {
    // The components go first: their threads may still call a handler, and handlers reach into this window.
    AMQP.reset();
    WSClient.reset();
}

TkezStringList& TfrmClientPROTOCOL::Exchanges() {
    if (!FExchanges) FExchanges = std::make_unique<TkezStringList>();
    return *FExchanges;
}

TkezStringList& TfrmClientPROTOCOL::Queues() {
    if (!FQueues) FQueues = std::make_unique<TkezStringList>();
    return *FQueues;
}

void TfrmClientPROTOCOL::ShowError(QWidget* aParent, const std::string& aMessage) {
    QMessageBox::critical(aParent, "AMQP Client - Lumbrix", QString::fromStdString(aMessage));
}

void TfrmClientPROTOCOL::RunCommand(const std::function<void()>& aCommand) {
    try {
        aCommand();
    } catch (const std::exception& e) {
        ShowError(this, e.what());
    }
}

void TfrmClientPROTOCOL::PostToWindow(std::function<void()> aWork) {
    if (QThread::currentThread() == thread()) {
        aWork();
        return;
    }
    // Queued on this window: when the window is gone before the call runs, Qt drops the call.
    QMetaObject::invokeMethod(this, std::move(aWork), Qt::QueuedConnection);
}

void TfrmClientPROTOCOL::btnStartClick() {
    WSClient->SetNotifyEvents(neNoSync);
    WSClient->Specifications().SetRFC6455(false);
    const QLineEdit* portBox = chkTLS->isChecked() ? txtSSLPort : txtDefaultPort;
    WSClient->SetPort(static_cast<int>(IntegerOfBox(portBox->text().toStdString(), "port", 1, 65535)));
    WSClient->SetHost(txtHost->text().toStdString());
    WSClient->SetTLS(chkTLS->isChecked());
    TkezWSProxy_Options& proxy = WSClient->Proxy();
    proxy.SetEnabled(chkProxy->isChecked());
    proxy.SetUsername(txtProxyUsername->text().toStdString());
    proxy.SetPassword(txtProxyPassword->text().toStdString());
    proxy.SetHost(txtProxyHost->text().toStdString());
    if (!txtProxyPort->text().isEmpty())
        proxy.SetPort(
            static_cast<int>(IntegerOfBox(txtProxyPort->text().toStdString(), "proxy port", 1, 65535)));
    {
        std::lock_guard guard(FCredentialsLock);
        FUser = txtUser->text().toStdString();
        FPassword = txtPassword->text().toStdString();
    }
    WSClient->SetActive(true);
    if (WSClient->Active()) pnlClientOptions->setEnabled(false);
}

void TfrmClientPROTOCOL::btnStopClick() {
    WSClient->SetActive(false);
    if (!WSClient->Active()) pnlClientOptions->setEnabled(true);
}

void TfrmClientPROTOCOL::WSClientException(const TkezWSConnectionPtr&, const std::exception& E) {
    DoLog(std::string("#exception:") + E.what());
}

void TfrmClientPROTOCOL::DoLog(const std::string& aText) {
    bool post = false;
    {
        std::lock_guard guard(FLogLock);
        FPendingLog.push_back(aText);
        post = !std::exchange(FLogFlushPosted, true);
    }
    if (post) PostToWindow([this] { FlushLog(); });
}

void TfrmClientPROTOCOL::FlushLog() {
    std::vector<std::string> lines;
    {
        std::lock_guard guard(FLogLock);
        lines.swap(FPendingLog);
        FLogFlushPosted = false;
    }
    if (!memoLog || lines.empty()) return;
    QString text;
    for (const std::string& line : lines) {
        if (!text.isEmpty()) text += '\n';
        text += QString::fromStdString(line);
    }
    memoLog->appendPlainText(text);
    memoLog->verticalScrollBar()->setValue(memoLog->verticalScrollBar()->maximum());
}

} // namespace kez
