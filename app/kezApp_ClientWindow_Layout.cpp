// The window's controls at their places, with their captions and initial values, and the two components with
// the settings the window gives them.
#include "kezApp_ClientWindow.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace kez {

namespace {

constexpr int EditHeight = 21;
constexpr int ButtonHeight = 25;
// The broker the window offers first: one on this machine.
constexpr const char* DefaultBrokerHost = "localhost";

QLabel* Label(QWidget* aParent, const QString& aText, int aLeft, int aTop) {
    auto* label = new QLabel(aText, aParent);
    label->move(aLeft, aTop);
    label->adjustSize();
    return label;
}

QLabel* Title(QWidget* aParent, const QString& aText, int aLeft, int aTop, int aPixelSize) {
    QLabel* label = Label(aParent, aText, aLeft, aTop);
    QFont font = label->font();
    font.setBold(true);
    if (aPixelSize > 0) font.setPixelSize(aPixelSize);
    label->setFont(font);
    label->adjustSize();
    return label;
}

template <typename T>
T* Named(T* aWidget, const char* aName) {
    aWidget->setObjectName(aName);
    return aWidget;
}

QLineEdit* Edit(QWidget* aParent, const char* aName, int aLeft, int aTop, int aWidth,
                const QString& aText = {}) {
    auto* edit = Named(new QLineEdit(aText, aParent), aName);
    edit->setGeometry(aLeft, aTop, aWidth, EditHeight);
    return edit;
}

QPushButton* Button(QWidget* aParent, const char* aName, const QString& aCaption, int aLeft, int aTop,
                    int aWidth = 121) {
    auto* button = Named(new QPushButton(aCaption, aParent), aName);
    button->setGeometry(aLeft, aTop, aWidth, ButtonHeight);
    return button;
}

QCheckBox* Check(QWidget* aParent, const char* aName, const QString& aCaption, int aLeft, int aTop) {
    auto* check = Named(new QCheckBox(aCaption, aParent), aName);
    check->move(aLeft, aTop);
    check->adjustSize();
    return check;
}

QWidget* Panel(QWidget* aParent, const char* aName, int aLeft, int aTop, int aWidth, int aHeight) {
    auto* panel = Named(new QWidget(aParent), aName);
    panel->setGeometry(aLeft, aTop, aWidth, aHeight);
    return panel;
}

TkezListView* List(QWidget* aParent, const char* aName, int aLeft, int aTop, int aWidth, int aHeight) {
    auto* list = Named(new TkezListView(aParent), aName);
    list->setGeometry(aLeft, aTop, aWidth, aHeight);
    return list;
}

} // namespace

TfrmClientPROTOCOL::TfrmClientPROTOCOL(QWidget* aParent) : QWidget(aParent) {
    setObjectName("frmClientPROTOCOL");
    setWindowTitle("AMQP Client - Lumbrix");
    QFont font("Tahoma");
    font.setPixelSize(11);
    setFont(font);
    resize(1068, 871);
    CreateControls();
    CreateComponents();
    ConnectCommands();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmClientPROTOCOL::CreateControls() {
    pnlClient = Panel(this, "pnlClient", 0, 0, 1068, 871);
    memoLog = Named(new QPlainTextEdit(pnlClient), "memoLog");
    memoLog->setGeometry(8, 599, 1048, 266);
    memoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    CreateConnectionPanel();
    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(8, 143, 1052, 450);
    tabChannelExchangesQueues = Named(new QWidget, "tabChannelExchangesQueues");
    PageControl1->addTab(tabChannelExchangesQueues, "Channels - Exchanges - Queues");
    CreateChannelsPage();
    CreateMessagingTabs();
}

void TfrmClientPROTOCOL::CreateConnectionPanel() {
    pnlClientActive = Panel(this, "pnlClientActive", 8, 8, 106, 129);
    pnlClientActive->setAutoFillBackground(true);
    btnStart = Button(pnlClientActive, "btnStart", "Start", 16, 6, 75);
    btnStop = Button(pnlClientActive, "btnStop", "Stop", 16, 93, 75);

    QWidget* p = pnlClientOptions = Panel(this, "pnlClientOptions", 120, 8, 940, 129);
    pnlClientOptions->setAutoFillBackground(true);
    Title(p, "Options", 16, 11, 0);
    Label(p, "Host:", 16, 30);
    txtHost = Edit(p, "txtHost", 16, 45, 126, DefaultBrokerHost);
    Label(p, "Port:", 171, 26);
    Label(p, "Default", 160, 48);
    txtDefaultPort = Edit(p, "txtDefaultPort", 201, 45, 57, "5672");
    Label(p, "SSL", 178, 75);
    txtSSLPort = Edit(p, "txtSSLPort", 201, 72, 57, "5671");
    chkTLS = Check(p, "chkTLS", "TLS", 272, 47);
    chkProxy = Check(p, "chkProxy", "Proxy", 359, 7);
    Label(p, "Host:", 376, 26);
    txtProxyHost = Edit(p, "txtProxyHost", 376, 45, 121);
    Label(p, "Port:", 376, 72);
    txtProxyPort = Edit(p, "txtProxyPort", 376, 91, 121);
    Label(p, "Username:", 511, 26);
    txtProxyUsername = Edit(p, "txtProxyUsername", 511, 45, 121);
    Label(p, "Password:", 511, 72);
    txtProxyPassword = Edit(p, "txtProxyPassword", 511, 91, 121);
    Label(p, "User", 16, 76);
    txtUser = Edit(p, "txtUser", 16, 91, 74, "kez");
    Label(p, "Password", 96, 76);
    txtPassword = Edit(p, "txtPassword", 96, 91, 65, "juq");
    txtPassword->setEchoMode(QLineEdit::Password);
    // Every character shown as "*", as the window has always masked it.
    txtPassword->setStyleSheet("lineedit-password-character: 42");
}

void TfrmClientPROTOCOL::CreateChannelsPage() {
    QWidget* p = tabChannelExchangesQueues;
    Title(p, "Channels", 12, 3, 19);
    listChannels = List(p, "listChannels", 12, 32, 134, 185);
    btnChannelOpen = Button(p, "btnChannelOpen", "Open Channel", 152, 32);
    txtChannelName = Edit(p, "txtChannelName", 152, 63, 121, "MyChannel");

    Title(p, "Exchanges", 311, 3, 19);
    listExchanges = List(p, "listExchanges", 311, 32, 134, 194);
    btnExchangeDeclare = Button(p, "btnExchangeDeclare", "Declare Exchange", 451, 32);
    txtExchangeName = Edit(p, "txtExchangeName", 451, 63, 121, "MyExchange");
    txtExchangeType = Edit(p, "txtExchangeType", 468, 90, 97, "direct");
    chkExchangePassive = Check(p, "chkExchangePassive", "Passive", 468, 117);
    chkExchangeDurable = Check(p, "chkExchangeDurable", "Durable", 468, 140);
    chkExchangeAutoDelete = Check(p, "chkExchangeAutoDelete", "AutoDelete", 468, 163);
    chkExchangeInternal = Check(p, "chkExchangeInternal", "Internal", 468, 186);
    chkExchangeNoWait = Check(p, "chkExchangeNoWait", "No Wait", 468, 209);

    Title(p, "Queues", 614, 3, 19);
    listQueues = List(p, "listQueues", 614, 27, 134, 199);
    btnQueueDeclare = Button(p, "btnQueueDeclare", "Declare Queue", 754, 32);
    txtQueueName = Edit(p, "txtQueueName", 754, 63, 121, "MyQueue");
    chkQueuePassive = Check(p, "chkQueuePassive", "Passive", 766, 90);
    chkQueueDurable = Check(p, "chkQueueDurable", "Durable", 766, 113);
    chkQueueExclusive = Check(p, "chkQueueExclusive", "Exclusive", 766, 136);
    chkQueueAutoDelete = Check(p, "chkQueueAutoDelete", "AutoDelete", 766, 159);
    chkQueueNoWait = Check(p, "chkQueueNoWait", "No Wait", 766, 182);
    btnQueueBind = Button(p, "btnQueueBind", "Bind Queue", 890, 32);
    txtQueueRoutingKey = Edit(p, "txtQueueRoutingKey", 890, 63, 121, "direct");
    btnQueueUnBind = Button(p, "btnQueueUnBind", "UnBind Queue", 890, 90);
    btnQueuePurge = Button(p, "btnQueuePurge", "Purge Queue", 890, 176);

    popupChannels = Named(new QMenu(this), "popupChannels");
    ChannelClose1 = Named(popupChannels->addAction("Close Channel"), "ChannelClose1");
    ChannelEnable1 = Named(popupChannels->addAction("Enable Channel"), "ChannelEnable1");
    ChannelDisable1 = Named(popupChannels->addAction("Disable Channel"), "ChannelDisable1");
    popupExchanges = Named(new QMenu(this), "popupExchanges");
    DeleteExchange1 = Named(popupExchanges->addAction("Delete Exchange"), "DeleteExchange1");
    popupQueues = Named(new QMenu(this), "popupQueues");
    DeleteQueue1 = Named(popupQueues->addAction("Delete Queue"), "DeleteQueue1");
    const auto attach = [](TkezListView* aList, QMenu* aMenu) {
        aList->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(
            aList, &QWidget::customContextMenuRequested, aMenu,
            [aList, aMenu](const QPoint& aAt) { aMenu->popup(aList->viewport()->mapToGlobal(aAt)); });
    };
    attach(listChannels, popupChannels);
    attach(listExchanges, popupExchanges);
    attach(listQueues, popupQueues);

    PageControl2 = Named(new QTabWidget(p), "PageControl2");
    PageControl2->setGeometry(16, 232, 993, 177);
}

void TfrmClientPROTOCOL::CreateMessagingTabs() {
    const auto tab = [&](const char* aName, const QString& aCaption) {
        auto* page = Named(new QWidget, aName);
        PageControl2->addTab(page, aCaption);
        return page;
    };
    QWidget* p = tabPublish = tab("tabPublish", "Publish Messages");
    btnPublishMessage = Button(p, "btnPublishMessage", "Publish Message", 26, 16);
    txtPublishMessage = Edit(p, "txtPublishMessage", 168, 18, 687);
    Label(p, "Routing Key", 40, 48);
    txtRoutingKey = Edit(p, "txtRoutingKey", 40, 67, 121);
    chkMandatory = Check(p, "chkMandatory", "Mandatory", 40, 94);
    chkImmediate = Check(p, "chkImmediate", "Immediate", 40, 117);

    p = tabReceiveMessages = tab("tabReceiveMessages", "Receive Messages");
    btnGetMessage = Button(p, "btnGetMessage", "Get Message", 26, 20);
    chkGetMessageNoWait = Check(p, "chkGetMessageNoWait", "No Wait", 33, 51);
    btnAckMessage = Button(p, "btnAckMessage", "Ack Message", 320, 20);
    chkAckMultiple = Check(p, "chkAckMultiple", "Multiple", 328, 51);
    Label(p, "Delivery-Tag", 464, 3);
    txtDeliveryTag = Edit(p, "txtDeliveryTag", 464, 22, 187);
    btnRejectMessage = Button(p, "btnRejectMessage", "Reject Message", 320, 74);
    chkRejectRequeue = Check(p, "chkRejectRequeue", "Requeue", 328, 105);
    btnRecoverMessage = Button(p, "btnRecoverMessage", "Recover Message", 712, 20);
    chkRecoverRequeue = Check(p, "chkRecoverRequeue", "Requeue", 856, 27);
    btnRecoverAsyncMessage = Button(p, "btnRecoverAsyncMessage", "RecoverAsync Message", 712, 51);

    p = tabConsume = tab("tabConsume", "Consume");
    Label(p, "Consumer Tag", 32, 24);
    txtConsumeConsumerTag = Edit(p, "txtConsumeConsumerTag", 107, 21, 121);
    chkConsumeNoLocal = Check(p, "chkConsumeNoLocal", "NoLocal", 107, 48);
    chkConsumeNoAck = Check(p, "chkConsumeNoAck", "NoAck", 107, 71);
    chkConsumeExclusive = Check(p, "chkConsumeExclusive", "Exclusive", 107, 94);
    chkConsumeNoWait = Check(p, "chkConsumeNoWait", "No Wait", 107, 117);
    btnConsume = Button(p, "btnConsume", "Consume", 248, 18);
    btnCancelConsume = Button(p, "btnCancelConsume", "Cancel Consume", 248, 49);

    p = tabQoS = tab("tabQoS", "QoS");
    Label(p, "Prefetch Size", 24, 16);
    txtQoSPrefetchSize = Edit(p, "txtQoSPrefetchSize", 93, 13, 121, "0");
    Label(p, "Prefetch Count", 14, 43);
    txtQoSPrefetchCount = Edit(p, "txtQoSPrefetchCount", 93, 40, 121, "0");
    chkQoSGlobal = Check(p, "chkQoSGlobal", "Global", 93, 67);
    btnSetQoS = Button(p, "btnSetQoS", "Set QoS", 93, 90);

    p = tabTransactions = tab("tabTransactions", "Transactions");
    btnSelectTransaction = Button(p, "btnSelectTransaction", "Select Transaction", 34, 24);
    btnCommitTransaction = Button(p, "btnCommitTransaction", "Commit Transaction", 34, 55);
    btnRollbackTransaction = Button(p, "btnRollbackTransaction", "Rollback Transaction", 34, 86);
    PageControl2->setCurrentIndex(0);
}

void TfrmClientPROTOCOL::CreateComponents() {
    WSClient = std::make_unique<TkezWebSocketClient>();
    WSClient->SetHost(DefaultBrokerHost);
    WSClient->SetPort(5672);
    WSClient->SetTLS(false);
    WSClient->SetNotifyEvents(neAsynchronous);
    WSClient->Specifications().SetRFC6455(true);
    WSClient->Proxy().SetEnabled(false);
    WSClient->Proxy().SetPort(8080);
    WSClient->Proxy().SetProxyType(pxyHTTP);
    WSClient->SetConnectTimeout(0);
    WSClient->SetReadTimeout(-1);
    WSClient->SetWriteTimeout(0);
    TkezWSHeartBeat_Options heartBeat = WSClient->HeartBeat();
    heartBeat.SetEnabled(true);
    heartBeat.SetInterval(30);
    heartBeat.SetTimeout(0);
    WSClient->SetHeartBeat(heartBeat);
    WSClient->WatchDog().SetEnabled(false);
    WSClient->WatchDog().SetInterval(10);
    WSClient->WatchDog().SetAttempts(0);
    WSClient->SetIPVersion(ipv4);
    WSClient->Options().SetCleanDisconnect(false);
    WSClient->Options().SetRaiseDisconnectExceptions(true);
    WSClient->Options().SetValidateUTF8(false);
    WSClient->Options().SetFragmentedMessages(frgOnlyBuffer);
    WSClient->Options().SetParameters("/ws");
    WSClient->OnException = [this](const TkezWSConnectionPtr& aConnection, const std::exception& E) {
        WSClientException(aConnection, E);
    };

    AMQP = std::make_unique<TkezWSPClient_AMQP>();
    TkezWSAMQP_Options options;
    options.SetLocale("en_US");
    options.SetMaxChannels(65535);
    options.SetMaxFrameSize(2147483647);
    options.SetVirtualHost("/");
    AMQP->SetAMQPOptions(options);
    TkezWSAMQPHeartBeat_Options amqpHeartBeat;
    amqpHeartBeat.SetEnabled(true);
    amqpHeartBeat.SetInterval(60);
    amqpHeartBeat.SetTimeout(0);
    AMQP->SetHeartBeat(amqpHeartBeat);
    AssignAMQPEvents();
    // Registered once both are set up: the component takes over the client's NotifyEvents as it is now.
    AMQP->SetClient(WSClient.get());
}

} // namespace kez
