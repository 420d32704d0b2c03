// The AMQP component's events: one log line each, and the list work of channels, exchanges and queues posted
// to the GUI thread with copies of the event's texts.
#include "kezApp_ClientWindow.h"

namespace kez {

namespace {

std::string BodyText(TkezAMQPMessageContent& aContent) { return aContent.Body().AsString(); }

const char* TransactionWord(TkezAMQPTransaction aTransaction) {
    switch (aTransaction) {
    case amqpTransactionSelect: return "select";
    case amqpTransactionCommit: return "commit";
    case amqpTransactionRollback: return "rollback";
    }
    return "";
}

// Removes the channel's item (the last of equal captions). A close of a channel the list does not show
// removes nothing: it must not take whichever item the user happens to have selected.
void RemoveChannelItem(QListWidget* aList, const std::string& aChannel) {
    const QString caption = QString::fromStdString(aChannel);
    for (int i = aList->count() - 1; i >= 0; --i)
        if (aList->item(i)->text() == caption) {
            delete aList->takeItem(i);
            return;
        }
}

// Shows the names the bookkeeping lines hold for aChannel (their name part ends at the first separator).
void RefreshList(QListWidget* aList, const TkezStringList& aLines, const std::string& aChannel) {
    aList->clear();
    for (int i = 0; i < aLines.Count(); ++i)
        if (aLines.Names(i) == aChannel)
            aList->addItem(QString::fromStdString(std::string(aLines.ValueFromIndex(i))));
}

} // namespace

void TfrmClientPROTOCOL::AssignAMQPEvents() {
    AMQP->OnAMQPConnect = [this](TObject*) { DoLog("#AMQP_connected"); };
    AMQP->OnAMQPHeartBeat = [this](TObject*) { DoLog("#AMQP_heartbeat"); };
    AMQP->OnAMQPAuthentication = [this](TObject*, TkezAMQPAuthentications, TkezAMQPAuthentication&,
                                        std::string& User, std::string& Password) {
        std::lock_guard guard(FCredentialsLock);
        User = FUser;
        Password = FPassword;
    };
    AMQP->OnAMQPDisconnect = [this](TObject*, const TkezAMQPFramePayload_Method_ConnectionClose& aClose,
                                    bool) {
        DoLog("#AMQP_disconnected: " + std::to_string(aClose.ReplyCode()) + " " + aClose.ReplyText());
        PostToWindow([this] {
            listChannels->clear();
            listExchanges->clear();
        });
    };
    AMQP->OnAMQPException = [this](TObject*, const std::exception& E) {
        DoLog(std::string("#AMQP_exception: ") + E.what());
    };
    AMQP->OnAMQPChannelOpen = [this](TObject*, const std::string& aChannel) {
        DoLog("#AMQP_channel_open: " + aChannel);
        PostToWindow([this, aChannel] { listChannels->addItem(QString::fromStdString(aChannel)); });
    };
    AMQP->OnAMQPChannelClose = [this](TObject*, const std::string& aChannel,
                                      const TkezAMQPFramePayload_Method_ChannelClose& aChannelClose, bool) {
        DoLog("#AMQP_channel_Close: " + aChannel + " " + aChannelClose.ReplyText());
        PostToWindow([this, aChannel] { RemoveChannelItem(listChannels, aChannel); });
    };
    AMQP->OnAMQPExchangeDeclare = [this](TObject*, const std::string& aChannel,
                                         const std::string& aExchange) {
        DoLog("#AMQP_exchange_declare: [" + aChannel + "] " + aExchange);
        PostToWindow([this, aChannel, aExchange] {
            Exchanges().Add(aChannel + Exchanges().NameValueSeparator() + aExchange);
            DoRefreshExchanges(aChannel);
        });
    };
    AMQP->OnAMQPExchangeDelete = [this](TObject*, const std::string& aChannel, const std::string& aExchange) {
        DoLog("#AMQP_exchange_delete: [" + aChannel + "] " + aExchange);
        PostToWindow([this, aChannel, aExchange] {
            const int index = Exchanges().IndexOf(aChannel + Exchanges().NameValueSeparator() + aExchange);
            if (index >= 0) Exchanges().Delete(index);
            DoRefreshExchanges(aChannel);
        });
    };
    AMQP->OnAMQPQueueDeclare = [this](TObject*, const std::string& aChannel, const std::string& aQueue,
                                      int32_t, int32_t) {
        DoLog("#AMQP_queue_declare: [" + aChannel + "] " + aQueue);
        PostToWindow([this, aChannel, aQueue] {
            Queues().Add(aChannel + Queues().NameValueSeparator() + aQueue);
            DoRefreshQueues(aChannel);
        });
    };
    AMQP->OnAMQPQueueBind = [this](TObject*, const std::string& aChannel, const std::string& aQueue,
                                   const std::string& aExchange) {
        DoLog("#AMQP_queue_bind: [" + aChannel + "] " + aQueue + " --><-- " + aExchange);
    };
    AMQP->OnAMQPQueueUnBind = [this](TObject*, const std::string& aChannel, const std::string& aQueue,
                                     const std::string& aExchange) {
        DoLog("#AMQP_queue_unbind: [" + aChannel + "] " + aQueue + " <-- --> " + aExchange);
    };
    AMQP->OnAMQPQueuePurge = [this](TObject*, const std::string& aChannel, const std::string& aQueue,
                                    int32_t aMessageCount) {
        DoLog("#AMQP_queue_purge: [" + aChannel + "] " + aQueue + " (" + std::to_string(aMessageCount) + ")");
    };
    AMQP->OnAMQPQueueDelete = [this](TObject*, const std::string& aChannel, const std::string& aQueue,
                                     int32_t) {
        DoLog("#AMQP_queue_delete: [" + aChannel + "] " + aQueue);
        PostToWindow([this, aChannel, aQueue] {
            const int index = Queues().IndexOf(aChannel + Queues().NameValueSeparator() + aQueue);
            if (index >= 0) Queues().Delete(index);
            DoRefreshQueues(aChannel);
        });
    };
    AMQP->OnAMQPBasicQoS = [this](TObject*, const std::string& aChannel,
                                  const TkezAMQPFramePayload_Method_BasicQoS& aQoS) {
        DoLog("#AMQP_basic_qos: " + aChannel + " " + std::to_string(aQoS.PrefetchSize()) + " " +
              std::to_string(aQoS.PrefetchCount()) + " " + (aQoS.Global() ? "-1" : "0"));
    };
    AMQP->OnAMQPBasicConsume = [this](TObject*, const std::string& aChannel,
                                      const std::string& aConsumerTag) {
        DoLog("#AMQP_basic_consume: " + aChannel + " " + aConsumerTag);
    };
    AMQP->OnAMQPBasicCancelConsume = [this](TObject*, const std::string& aChannel,
                                            const std::string& aConsumerTag) {
        DoLog("#AMQP_basic_cancel_consume: " + aChannel + " " + aConsumerTag);
    };
    AMQP->OnAMQPBasicReturn = [this](TObject*, const std::string& aChannel,
                                     const TkezAMQPFramePayload_Method_BasicReturn& aReturn,
                                     TkezAMQPMessageContent& aContent) {
        DoLog("#AMQP_basic_return: " + aChannel + " " + std::to_string(aReturn.ReplyCode()) + " " +
              aReturn.ReplyText() + " " + BodyText(aContent));
    };
    AMQP->OnAMQPBasicDeliver = [this](TObject*, const std::string& aChannel,
                                      const TkezAMQPFramePayload_Method_BasicDeliver& aDeliver,
                                      TkezAMQPMessageContent& aContent) {
        DoLog("#AMQP_basic_deliver: " + aChannel + " " + aDeliver.ConsumerTag() + "  " + BodyText(aContent));
    };
    AMQP->OnAMQPBasicGetOk = [this](TObject*, const std::string& aChannel,
                                    const TkezAMQPFramePayload_Method_BasicGetOk& aGetOk,
                                    TkezAMQPMessageContent& aContent) {
        DoLog("#AMQP_basic_GetOk: " + aChannel + " " + std::to_string(aGetOk.MessageCount()) + " " +
              BodyText(aContent));
        const std::string tag = std::to_string(aGetOk.DeliveryTag());
        PostToWindow([this, tag] { txtDeliveryTag->setText(QString::fromStdString(tag)); });
    };
    AMQP->OnAMQPBasicGetEmpty = [this](TObject*, const std::string& aChannel) {
        DoLog("#AMQP_basic_GetEmpty: " + aChannel);
    };
    AMQP->OnAMQPBasicRecoverOk = [this](TObject*, const std::string& aChannel) {
        DoLog("#AMQP_basic_RecoverOk: " + aChannel);
    };
    AMQP->OnAMQPTransactionOk = [this](TObject*, const std::string& aChannel,
                                       TkezAMQPTransaction aTransaction) {
        DoLog("#AMQP_transaction_ok: [" + aChannel + "] " + TransactionWord(aTransaction));
    };
}

void TfrmClientPROTOCOL::DoRefreshExchanges(const std::string& aChannel) {
    RefreshList(listExchanges, Exchanges(), aChannel);
}

void TfrmClientPROTOCOL::DoRefreshQueues(const std::string& aChannel) {
    RefreshList(listQueues, Queues(), aChannel);
}

} // namespace kez
