// The framework services whose rules no single run shows in full: which log messages and traces get
// through, and what an event carries when it is raised.
#include "kivu5/Framework.h"
#include "qen/qen.h"

#include <gtest/gtest.h>

namespace tarntest {
namespace {

TEST(Logging, AMessageNeedsTheGlobalPriorityAndTheLoggersLevelBelowOrAtItsOwn) {
    struct Case {
        int global, level, priority;
        bool message, trace;
    };
    const Case cases[] = {
        {1, 0, 1, true, true},   {2, 0, 1, false, false}, {2, 0, 2, true, false}, {3, 0, 4, true, false},
        {0, 0, 1, true, true},   {1, 1, 1, false, false}, {1, 1, 2, true, false}, {4, 3, 4, true, false},
        {4, 4, 4, false, false}, {5, 0, 4, false, false},
    };
    int saved = qen::LoggerPriority::LOGGER_PRIORITY;
    for (const Case& c : cases) {
        qen::LoggerPriority::LOGGER_PRIORITY = c.global;
        qen::Logger logger("tarnserialport", c.level);
        EXPECT_EQ(qen::LogGate::MessageEnabled(&logger, c.priority), c.message)
            << "global " << c.global << " level " << c.level << " priority " << c.priority;
        EXPECT_EQ(qen::LogGate::ForTrace(&logger) != nullptr, c.trace) << "global " << c.global;
    }
    EXPECT_FALSE(qen::LogGate::MessageEnabled(nullptr, 4));
    qen::LoggerPriority::LOGGER_PRIORITY = saved;
}

TEST(Events, ARaiseCarriesTheVariablesSetSinceThePreviousOneInTheOrderFirstSet) {
    kivu5::Event* event = kivu5::Framework::findEvent("BaudMiscompareError");
    ASSERT_NE(event, nullptr);
    kivu5::Framework::beginRun();
    event->setVariable("PortNumber", kivu5::Value(qen::String("COM1")));
    event->setVariable("ValueRead", kivu5::Value(1));
    event->setVariable("PortNumber", kivu5::Value(qen::String("COM2")));
    kivu5::DiagModule::error(event, "SerialPortTest", 7);
    kivu5::DiagModule::warning(event, "SerialPortTest", 8);
    const std::vector<kivu5::TimelineEntry>& timeline = kivu5::Framework::timeline();
    ASSERT_EQ(timeline.size(), 2u);
    ASSERT_EQ(timeline[0].vars.size(), 2u);
    EXPECT_EQ(timeline[0].vars[0].name, "PortNumber");
    EXPECT_EQ(timeline[0].vars[0].value.text(), "COM2") << "set twice: keeps its place, takes the new value";
    EXPECT_EQ(timeline[0].severity, "error");
    EXPECT_TRUE(timeline[1].vars.empty()) << "the next raise starts empty";
    EXPECT_EQ(timeline[1].severity, "warning");
}

} // namespace
} // namespace tarntest
