// The fixture of the engine tests: every test runs once per way of cutting the broker's octets into blocks.
#pragma once

#include "ScriptedBroker.h"

#include <gtest/gtest.h>

namespace kez::test {

class EngineTest : public testing::TestWithParam<TSplit> {
protected:
    TkezAMQP_Client& Engine() { return Broker.Engine(); }

    TScriptedBroker Broker{GetParam()};
};

// The arguments of a Connection.StartOk the engine wrote.
struct TStartOk {
    std::string Mechanism;
    std::string Response;
    std::string Locale;
};
TStartOk ParseStartOk(const TWrittenFrame& aFrame);

} // namespace kez::test

#define KEZ_FOR_EVERY_SPLIT(Suite)                                                                           \
    INSTANTIATE_TEST_SUITE_P(                                                                                \
        Splits, Suite,                                                                                       \
        testing::Values(kez::test::splitWhole, kez::test::splitOneByte, kez::test::splitRandom),             \
        [](const auto& aInfo) { return kez::test::SplitName(aInfo.param); })
