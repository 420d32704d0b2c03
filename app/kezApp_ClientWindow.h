// The program's one window: a socket client and an AMQP component, a connection panel with Start and Stop,
// the channel, exchange and queue lists with their commands, the messaging tabs and the log. Every broker
// reply arrives as an AMQP event on an engine thread; handlers only log (posted to the GUI thread) and post
// their list work, so controls are touched on the GUI thread alone.
#pragma once

#include "kezApp_ListView.h"
#include "kezBase_StringList.h"
#include "kezWebSocket_Protocol_AMQP_Client.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kez {

class TfrmClientPROTOCOL : public QWidget {
    Q_OBJECT
public:
    explicit TfrmClientPROTOCOL(QWidget* aParent = nullptr);
    ~TfrmClientPROTOCOL() override;

    // --- components ---
    std::unique_ptr<TkezWebSocketClient> WSClient;
    std::unique_ptr<TkezWSPClient_AMQP> AMQP;

    // --- connection panel and log ---
    QWidget* pnlClient = nullptr;
    QPlainTextEdit* memoLog = nullptr;
    QWidget* pnlClientActive = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QWidget* pnlClientOptions = nullptr;
    QLineEdit* txtHost = nullptr;
    QLineEdit* txtDefaultPort = nullptr;
    QLineEdit* txtSSLPort = nullptr;
    QCheckBox* chkTLS = nullptr;
    QCheckBox* chkProxy = nullptr;
    QLineEdit* txtProxyHost = nullptr;
    QLineEdit* txtProxyPort = nullptr;
    QLineEdit* txtProxyUsername = nullptr;
    QLineEdit* txtProxyPassword = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPassword = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* tabChannelExchangesQueues = nullptr;

    // --- channels, exchanges and queues ---
    TkezListView* listChannels = nullptr;
    QPushButton* btnChannelOpen = nullptr;
    QLineEdit* txtChannelName = nullptr;
    TkezListView* listExchanges = nullptr;
    QPushButton* btnExchangeDeclare = nullptr;
    QLineEdit* txtExchangeName = nullptr;
    QLineEdit* txtExchangeType = nullptr;
    QCheckBox* chkExchangePassive = nullptr;
    QCheckBox* chkExchangeDurable = nullptr;
    QCheckBox* chkExchangeAutoDelete = nullptr;
    QCheckBox* chkExchangeInternal = nullptr;
    QCheckBox* chkExchangeNoWait = nullptr;
    TkezListView* listQueues = nullptr;
    QPushButton* btnQueueDeclare = nullptr;
    QLineEdit* txtQueueName = nullptr;
    QCheckBox* chkQueuePassive = nullptr;
    QCheckBox* chkQueueDurable = nullptr;
    QCheckBox* chkQueueExclusive = nullptr;
    QCheckBox* chkQueueAutoDelete = nullptr;
    QCheckBox* chkQueueNoWait = nullptr;
    QPushButton* btnQueueBind = nullptr;
    QLineEdit* txtQueueRoutingKey = nullptr;
    QPushButton* btnQueueUnBind = nullptr;
    QPushButton* btnQueuePurge = nullptr;
    QMenu* popupChannels = nullptr;
    QMenu* popupExchanges = nullptr;
    QMenu* popupQueues = nullptr;
    QAction* ChannelClose1 = nullptr;
    QAction* ChannelEnable1 = nullptr;
    QAction* ChannelDisable1 = nullptr;
    QAction* DeleteExchange1 = nullptr;
    QAction* DeleteQueue1 = nullptr;

    // --- messaging tabs ---
    QTabWidget* PageControl2 = nullptr;
    QWidget* tabPublish = nullptr;
    QWidget* tabReceiveMessages = nullptr;
    QWidget* tabConsume = nullptr;
    QWidget* tabQoS = nullptr;
    QWidget* tabTransactions = nullptr;
    QPushButton* btnPublishMessage = nullptr;
    QLineEdit* txtPublishMessage = nullptr;
    QLineEdit* txtRoutingKey = nullptr;
    QCheckBox* chkMandatory = nullptr;
    QCheckBox* chkImmediate = nullptr;
    QPushButton* btnGetMessage = nullptr;
    QCheckBox* chkGetMessageNoWait = nullptr;
    QPushButton* btnAckMessage = nullptr;
    QCheckBox* chkAckMultiple = nullptr;
    QLineEdit* txtDeliveryTag = nullptr;
    QPushButton* btnRejectMessage = nullptr;
    QCheckBox* chkRejectRequeue = nullptr;
    QPushButton* btnRecoverMessage = nullptr;
    QCheckBox* chkRecoverRequeue = nullptr;
    QPushButton* btnRecoverAsyncMessage = nullptr;
    QLineEdit* txtConsumeConsumerTag = nullptr;
    QCheckBox* chkConsumeNoLocal = nullptr;
    QCheckBox* chkConsumeNoAck = nullptr;
    QCheckBox* chkConsumeExclusive = nullptr;
    QCheckBox* chkConsumeNoWait = nullptr;
    QPushButton* btnConsume = nullptr;
    QPushButton* btnCancelConsume = nullptr;
    QLineEdit* txtQoSPrefetchSize = nullptr;
    QLineEdit* txtQoSPrefetchCount = nullptr;
    QCheckBox* chkQoSGlobal = nullptr;
    QPushButton* btnSetQoS = nullptr;
    QPushButton* btnSelectTransaction = nullptr;
    QPushButton* btnCommitTransaction = nullptr;
    QPushButton* btnRollbackTransaction = nullptr;

    // The lines channel=name of every confirmed declaration, less the confirmed deletions.
    TkezStringList& Exchanges();
    TkezStringList& Queues();

    // The application's error display: a modal box with the message.
    static void ShowError(QWidget* aParent, const std::string& aMessage);

private:
    // --- building (kezApp_ClientWindow_Layout.cpp) ---
    void CreateControls();
    void CreateConnectionPanel();
    void CreateChannelsPage();
    void CreateMessagingTabs();
    void CreateComponents();
    void ConnectCommands();

    // --- connection and log (kezApp_ClientWindow_Connection.cpp) ---
    void btnStartClick();
    void btnStopClick();
    void WSClientException(const TkezWSConnectionPtr& aConnection, const std::exception& E);
    void DoLog(const std::string& aText);
    void FlushLog();
    // Runs a command handler; what it raises goes to the error display.
    void RunCommand(const std::function<void()>& aCommand);
    // Runs aWork on the GUI thread without waiting (at once when already there); nothing once the window
    // goes.
    void PostToWindow(std::function<void()> aWork);

    // --- AMQP events (kezApp_ClientWindow_Events.cpp) ---
    void AssignAMQPEvents();
    void DoRefreshExchanges(const std::string& aChannel);
    void DoRefreshQueues(const std::string& aChannel);

    // --- commands of the page and the tabs (kezApp_ClientWindow_Commands.cpp) ---
    void listChannelsClick();
    void listExchangesClick();
    void listQueuesClick();
    void btnChannelOpenClick();
    void btnExchangeDeclareClick();
    void btnQueueDeclareClick();
    void btnQueueBindClick();
    void btnQueueUnBindClick();
    void btnQueuePurgeClick();
    void ChannelClose1Click();
    void ChannelEnable1Click();
    void ChannelDisable1Click();
    void DeleteExchange1Click();
    void DeleteQueue1Click();
    void btnPublishMessageClick();
    void btnGetMessageClick();
    void btnAckMessageClick();
    void btnRejectMessageClick();
    void btnRecoverMessageClick();
    void btnRecoverAsyncMessageClick();
    void btnConsumeClick();
    void btnCancelConsumeClick();
    void btnSetQoSClick();
    void btnSelectTransactionClick();
    void btnCommitTransactionClick();
    void btnRollbackTransactionClick();

    std::string Channel() const;
    std::string Exchange() const;
    std::string Queue() const;

    std::unique_ptr<TkezStringList> FExchanges;
    std::unique_ptr<TkezStringList> FQueues;
    // The AMQP user and password as Start found them: the authentication handler runs on a worker thread and
    // must not read the boxes.
    std::mutex FCredentialsLock;
    std::string FUser;
    std::string FPassword;
    // Log lines waiting for the GUI thread, appended in one go: a fast consumer must not flood the event loop
    // with one posted call per line.
    std::mutex FLogLock;
    std::vector<std::string> FPendingLog;
    bool FLogFlushPosted = false;
};

} // namespace kez
