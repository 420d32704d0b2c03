// The commands of the channel page and the messaging tabs: each one call on the AMQP component with the names
// in the boxes, on the GUI thread. A command whose names are missing does nothing.
#include "kezApp_ClientWindow.h"
#include "kezApp_Integer.h"

#include <QMessageBox>

#include <cstdint>

namespace kez {

namespace {

constexpr int64_t MaxDeliveryTag = INT64_MAX;
constexpr int64_t MaxPrefetchSize = UINT32_MAX;

} // namespace

std::string TfrmClientPROTOCOL::Channel() const { return txtChannelName->text().toStdString(); }
std::string TfrmClientPROTOCOL::Exchange() const { return txtExchangeName->text().toStdString(); }
std::string TfrmClientPROTOCOL::Queue() const { return txtQueueName->text().toStdString(); }

void TfrmClientPROTOCOL::ConnectCommands() {
    const auto on = [this](QPushButton* aButton, void (TfrmClientPROTOCOL::*aHandler)()) {
        connect(aButton, &QPushButton::clicked, this,
                [this, aHandler] { RunCommand([&] { (this->*aHandler)(); }); });
    };
    const auto onAction = [this](QAction* aAction, void (TfrmClientPROTOCOL::*aHandler)()) {
        connect(aAction, &QAction::triggered, this,
                [this, aHandler] { RunCommand([&] { (this->*aHandler)(); }); });
    };
    const auto onList = [this](TkezListView* aList, void (TfrmClientPROTOCOL::*aHandler)()) {
        connect(aList, &TkezListView::Clicked, this,
                [this, aHandler] { RunCommand([&] { (this->*aHandler)(); }); });
    };
    on(btnStart, &TfrmClientPROTOCOL::btnStartClick);
    on(btnStop, &TfrmClientPROTOCOL::btnStopClick);
    onList(listChannels, &TfrmClientPROTOCOL::listChannelsClick);
    onList(listExchanges, &TfrmClientPROTOCOL::listExchangesClick);
    onList(listQueues, &TfrmClientPROTOCOL::listQueuesClick);
    on(btnChannelOpen, &TfrmClientPROTOCOL::btnChannelOpenClick);
    on(btnExchangeDeclare, &TfrmClientPROTOCOL::btnExchangeDeclareClick);
    on(btnQueueDeclare, &TfrmClientPROTOCOL::btnQueueDeclareClick);
    on(btnQueueBind, &TfrmClientPROTOCOL::btnQueueBindClick);
    on(btnQueueUnBind, &TfrmClientPROTOCOL::btnQueueUnBindClick);
    on(btnQueuePurge, &TfrmClientPROTOCOL::btnQueuePurgeClick);
    onAction(ChannelClose1, &TfrmClientPROTOCOL::ChannelClose1Click);
    onAction(ChannelEnable1, &TfrmClientPROTOCOL::ChannelEnable1Click);
    onAction(ChannelDisable1, &TfrmClientPROTOCOL::ChannelDisable1Click);
    onAction(DeleteExchange1, &TfrmClientPROTOCOL::DeleteExchange1Click);
    onAction(DeleteQueue1, &TfrmClientPROTOCOL::DeleteQueue1Click);
    on(btnPublishMessage, &TfrmClientPROTOCOL::btnPublishMessageClick);
    on(btnGetMessage, &TfrmClientPROTOCOL::btnGetMessageClick);
    on(btnAckMessage, &TfrmClientPROTOCOL::btnAckMessageClick);
    on(btnRejectMessage, &TfrmClientPROTOCOL::btnRejectMessageClick);
    on(btnRecoverMessage, &TfrmClientPROTOCOL::btnRecoverMessageClick);
    on(btnRecoverAsyncMessage, &TfrmClientPROTOCOL::btnRecoverAsyncMessageClick);
    on(btnConsume, &TfrmClientPROTOCOL::btnConsumeClick);
    on(btnCancelConsume, &TfrmClientPROTOCOL::btnCancelConsumeClick);
    on(btnSetQoS, &TfrmClientPROTOCOL::btnSetQoSClick);
    on(btnSelectTransaction, &TfrmClientPROTOCOL::btnSelectTransactionClick);
    on(btnCommitTransaction, &TfrmClientPROTOCOL::btnCommitTransactionClick);
    on(btnRollbackTransaction, &TfrmClientPROTOCOL::btnRollbackTransactionClick);
}

// --- lists ---

void TfrmClientPROTOCOL::listChannelsClick() {
    const QList<QListWidgetItem*> selected = listChannels->selectedItems();
    if (selected.isEmpty()) {
        listExchanges->clear();
        return;
    }
    txtChannelName->setText(selected.front()->text());
    DoRefreshExchanges(Channel());
    DoRefreshQueues(Channel());
}

void TfrmClientPROTOCOL::listExchangesClick() {
    const QList<QListWidgetItem*> selected = listExchanges->selectedItems();
    if (!selected.isEmpty()) txtExchangeName->setText(selected.front()->text());
}

void TfrmClientPROTOCOL::listQueuesClick() {
    const QList<QListWidgetItem*> selected = listQueues->selectedItems();
    if (!selected.isEmpty()) txtQueueName->setText(selected.front()->text());
}

// --- channels, exchanges, queues ---

void TfrmClientPROTOCOL::btnChannelOpenClick() { AMQP->OpenChannel(Channel()); }

void TfrmClientPROTOCOL::btnExchangeDeclareClick() {
    if (Channel().empty() || Exchange().empty()) return;
    AMQP->DeclareExchange(Channel(), Exchange(), txtExchangeType->text().toStdString(),
                          chkExchangePassive->isChecked(), chkExchangeDurable->isChecked(),
                          chkExchangeAutoDelete->isChecked(), chkExchangeInternal->isChecked(),
                          chkExchangeNoWait->isChecked(), {});
}

void TfrmClientPROTOCOL::btnQueueDeclareClick() {
    if (Channel().empty() || Queue().empty()) return;
    AMQP->DeclareQueue(Channel(), Queue(), chkQueuePassive->isChecked(), chkQueueDurable->isChecked(),
                       chkQueueExclusive->isChecked(), chkQueueAutoDelete->isChecked(),
                       chkQueueNoWait->isChecked(), {});
}

void TfrmClientPROTOCOL::btnQueueBindClick() {
    if (Channel().empty() || Exchange().empty() || Queue().empty()) return;
    AMQP->BindQueueEx(Channel(), Queue(), Exchange(), txtQueueRoutingKey->text().toStdString(), false, 10000,
                      {});
}

void TfrmClientPROTOCOL::btnQueueUnBindClick() {
    if (Channel().empty() || Exchange().empty() || Queue().empty()) return;
    AMQP->UnBindQueue(Channel(), Queue(), Exchange(), txtQueueRoutingKey->text().toStdString(), {});
}

void TfrmClientPROTOCOL::btnQueuePurgeClick() {
    if (Channel().empty() || Queue().empty()) return;
    AMQP->PurgeQueue(Channel(), Queue(), false);
}

void TfrmClientPROTOCOL::ChannelClose1Click() {
    if (Channel().empty()) return;
    AMQP->CloseChannel(Channel(), 0, "", amqpClassNone, amqpMethodNone);
}

void TfrmClientPROTOCOL::ChannelEnable1Click() {
    if (!Channel().empty()) AMQP->EnableChannel(Channel());
}

void TfrmClientPROTOCOL::ChannelDisable1Click() {
    if (!Channel().empty()) AMQP->DisableChannel(Channel());
}

void TfrmClientPROTOCOL::DeleteExchange1Click() {
    if (Channel().empty() || Exchange().empty()) return;
    AMQP->DeleteExchange(Channel(), Exchange(), false, false);
}

void TfrmClientPROTOCOL::DeleteQueue1Click() {
    if (Channel().empty() || Queue().empty()) return;
    AMQP->DeleteQueue(Channel(), Queue(), false, false, false);
}

// --- messaging tabs ---

void TfrmClientPROTOCOL::btnPublishMessageClick() {
    if (Channel().empty() || Exchange().empty()) return;
    AMQP->PublishMessage(Channel(), Exchange(), txtRoutingKey->text().toStdString(),
                         txtPublishMessage->text().toStdString(), chkMandatory->isChecked(),
                         chkImmediate->isChecked());
}

void TfrmClientPROTOCOL::btnGetMessageClick() {
    if (Channel().empty() || Queue().empty()) return;
    AMQP->GetMessage(Channel(), Queue(), false);
}

void TfrmClientPROTOCOL::btnAckMessageClick() {
    if (Channel().empty() || txtDeliveryTag->text().isEmpty()) return;
    const int64_t tag = IntegerOfBox(txtDeliveryTag->text().toStdString(), "delivery tag", 0, MaxDeliveryTag);
    AMQP->AckMessage(Channel(), static_cast<uint64_t>(tag), chkAckMultiple->isChecked());
}

void TfrmClientPROTOCOL::btnRejectMessageClick() {
    if (Channel().empty() || txtDeliveryTag->text().isEmpty()) return;
    const int64_t tag = IntegerOfBox(txtDeliveryTag->text().toStdString(), "delivery tag", 0, MaxDeliveryTag);
    AMQP->RejectMessage(Channel(), static_cast<uint64_t>(tag), chkRejectRequeue->isChecked());
}

void TfrmClientPROTOCOL::btnRecoverMessageClick() {
    if (Channel().empty()) return;
    if (AMQP->RecoverEx(Channel(), chkRecoverRequeue->isChecked(), 10000))
        QMessageBox::information(this, "AMQP Client - Lumbrix", "ok");
}

void TfrmClientPROTOCOL::btnRecoverAsyncMessageClick() {
    if (!Channel().empty()) AMQP->RecoverAsync(Channel(), chkRecoverRequeue->isChecked());
}

void TfrmClientPROTOCOL::btnConsumeClick() {
    if (Channel().empty() || Queue().empty()) return;
    AMQP->Consume(Channel(), Queue(), txtConsumeConsumerTag->text().toStdString(),
                  chkConsumeNoLocal->isChecked(), chkConsumeNoAck->isChecked(),
                  chkConsumeExclusive->isChecked(), chkConsumeNoWait->isChecked(), {});
}

void TfrmClientPROTOCOL::btnCancelConsumeClick() {
    if (Channel().empty()) return;
    AMQP->CancelConsume(Channel(), txtConsumeConsumerTag->text().toStdString(),
                        chkConsumeNoWait->isChecked());
}

void TfrmClientPROTOCOL::btnSetQoSClick() {
    // The queue box guards although the call does not use it, as the tab has always asked for one.
    if (Channel().empty() || Queue().empty()) return;
    const int64_t count = IntegerOfBox(txtQoSPrefetchCount->text().toStdString(), "prefetch count", 0, 65535);
    const bool global = chkQoSGlobal->isChecked();
    const int64_t size =
        IntegerOfBox(txtQoSPrefetchSize->text().toStdString(), "prefetch size", 0, MaxPrefetchSize);
    AMQP->SetQoS(Channel(), static_cast<uint32_t>(size), static_cast<uint16_t>(count), global);
}

void TfrmClientPROTOCOL::btnSelectTransactionClick() {
    if (!Channel().empty()) AMQP->SelectTransactionEx(Channel(), 10000);
}

void TfrmClientPROTOCOL::btnCommitTransactionClick() {
    if (!Channel().empty()) AMQP->CommitTransaction(Channel());
}

void TfrmClientPROTOCOL::btnRollbackTransactionClick() {
    if (!Channel().empty()) AMQP->RollbackTransaction(Channel());
}

} // namespace kez
