#include "kezAMQP_Const.h"
#include "kezAMQP_Helpers.h"

#include <gtest/gtest.h>

using namespace kez;

namespace {

TEST(Conversions, FrameTypes) {
    const std::pair<uint8_t, TkezAMQPFrameType> known[] = {
        {1, amqpFrameMethod}, {2, amqpFrameHeader}, {3, amqpFrameBody}, {8, amqpFrameHeartBeat}};
    for (auto [id, type] : known) {
        EXPECT_EQ(GetAMQPFrameType(id), type);
        EXPECT_EQ(GetAMQPFrameTypeId(type), id);
    }
    for (uint8_t id : {0, 4, 5, 7, 9, 206, 255})
        EXPECT_EQ(GetAMQPFrameType(id), amqpFrameNone) << int(id);
    EXPECT_EQ(GetAMQPFrameTypeId(amqpFrameNone), 0);
}

TEST(Conversions, Classes) {
    const std::pair<uint16_t, TkezAMQPClass> known[] = {{10, amqpClassConnection}, {20, amqpClassChannel},
                                                        {40, amqpClassExchange},   {50, amqpClassQueue},
                                                        {60, amqpClassBasic},      {90, amqpClassTx}};
    for (auto [id, cls] : known) {
        EXPECT_EQ(GetAMQPClass(id), cls);
        EXPECT_EQ(GetAMQPClassId(cls), id);
    }
    for (uint16_t id : {0, 30, 70, 85, 65535})
        EXPECT_EQ(GetAMQPClass(id), amqpClassNone);
    EXPECT_EQ(GetAMQPClassId(amqpClassNone), 0);
}

TEST(Conversions, EveryMethodMapsToItsWireIdAndBack) {
    int none = 0;
    for (int m = 0; m < AMQPMethodCount; ++m) {
        const auto method = static_cast<TkezAMQPMethod>(m);
        const uint16_t id = GetAMQPMethodId(method);
        if (id == 0) {
            ++none;
            continue;
        }
        EXPECT_EQ(GetAMQPMethod(GetAMQPMethodClass(method), id), method) << m;
    }
    EXPECT_EQ(none, 7); // amqpMethodNone and one "none" value per class
}

TEST(Conversions, MethodsOfTheSpecimenTable) {
    EXPECT_EQ(GetAMQPMethod(amqpClassQueue, 50), amqpQueueUnBind);
    EXPECT_EQ(GetAMQPMethod(amqpClassQueue, 51), amqpQueueUnBindOk);
    EXPECT_EQ(GetAMQPMethod(amqpClassQueue, 30), amqpQueuePurge);
    EXPECT_EQ(GetAMQPMethod(amqpClassBasic, 120), amqpBasicNone);
    EXPECT_EQ(GetAMQPMethod(amqpClassBasic, 111), amqpBasicRecoverOk);
    EXPECT_EQ(GetAMQPMethod(amqpClassConnection, 12), amqpConnNone);
    EXPECT_EQ(GetAMQPMethod(amqpClassTx, 65535), amqpTxNone);
    EXPECT_EQ(GetAMQPMethod(amqpClassNone, 10), amqpMethodNone);
    EXPECT_EQ(GetAMQPMethodId(amqpBasicNone), 0);
    EXPECT_EQ(GetAMQPMethodId(amqpMethodNone), 0);
    EXPECT_EQ(GetAMQPMethodId(amqpChannClose), 40);
    EXPECT_EQ(GetAMQPMethodId(amqpBasicRecoverAsync), 100);
}

TEST(Conversions, AuthenticationNamesAreExactAndCaseSensitive) {
    const std::pair<const char*, TkezAMQPAuthentication> known[] = {{"ANONYMOUS", amqpAuthAnnonymous},
                                                                    {"PLAIN", amqpAuthPlain},
                                                                    {"AMQPLAIN", amqpAuthAMQPlain},
                                                                    {"EXTERNAL", amqpAuthExternal}};
    for (auto [name, auth] : known) {
        EXPECT_EQ(GetAMQPAuthentication(name), auth);
        EXPECT_EQ(GetAMQPAuthenticationName(auth), name);
    }
    EXPECT_EQ(GetAMQPAuthentication("plain"), amqpAuthNone);
    EXPECT_EQ(GetAMQPAuthentication(" PLAIN"), amqpAuthNone);
    EXPECT_EQ(GetAMQPAuthenticationName(amqpAuthNone), "");
}

TEST(Conversions, MechanismListSplitsAtRunsOfWhiteSpace) {
    const TkezAMQPAuthentications both{amqpAuthPlain, amqpAuthAMQPlain};
    EXPECT_EQ(GetAMQPAuthentications("PLAIN AMQPLAIN"), both);
    EXPECT_EQ(GetAMQPAuthentications("PLAIN  AMQPLAIN"), both);
    EXPECT_EQ(GetAMQPAuthentications("  PLAIN\tAMQPLAIN \n"), both);
    EXPECT_EQ(GetAMQPAuthentications("plain"), TkezAMQPAuthentications{amqpAuthNone});
    EXPECT_EQ(GetAMQPAuthentications("EXTERNAL SCRAM-SHA-1"),
              (TkezAMQPAuthentications{amqpAuthExternal, amqpAuthNone}));
    EXPECT_TRUE(GetAMQPAuthentications("").Empty());
}

TEST(Conversions, ReplyTexts) {
    const std::pair<int, const char*> texts[] = {
        {311, "Content Too Large"}, {313, "No Consumers"},        {320, "Connection Forced"},
        {402, "Invalid Path"},      {403, "Access Refused"},      {404, "Not Found"},
        {405, "Resource Locked"},   {406, "Precondition Failed"}, {501, "Frame Error"},
        {502, "Syntax Error"},      {503, "Command Invalid"},     {504, "Channel Error"},
        {505, "Unexpected Frame"},  {506, "Resource Error"},      {530, "Now Allowed"},
        {540, "Not Implemented"},   {541, "Internal Error"}};
    for (auto [code, text] : texts)
        EXPECT_EQ(GetAMQPReplyText(code), text) << code;
    for (int code : {-1, 0, 200, 312, 999})
        EXPECT_EQ(GetAMQPReplyText(code), "") << code;
}

TEST(Conversions, RaiseAMQPExceptionCarriesCodeAndText) {
    try {
        RaiseAMQPException(406);
    } catch (const TkezAMQPException& e) {
        EXPECT_EQ(e.Code(), 406);
        EXPECT_STREQ(e.what(), "Precondition Failed");
        return;
    }
    FAIL() << "no exception";
}

} // namespace
