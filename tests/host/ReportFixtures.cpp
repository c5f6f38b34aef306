#include "ReportFixtures.h"

namespace tarnhosttest {

using kivu5::TimelineEntry;
using kivu5::Value;
using kivu5::VariableRecord;

tarnhost::RunRecord FailingLoopbackRun() {
    tarnhost::RunRecord run;
    run.test = "ExternalLoopbackTest";
    run.id = 4;
    run.device = "COM1";
    run.outcome.result = kivu5::TestResult::FAIL();
    run.outcome.startMs = 1000;
    run.outcome.endMs = 2500;

    TimelineEntry progress(TimelineEntry::Progress);
    progress.name = "ValidityCheck";
    progress.vars = {VariableRecord{"PortNumber", Value(qen::String("COM1"))}};
    progress.text = "Checking COM1";
    TimelineEntry percent(TimelineEntry::Percent);
    percent.value = 0;
    TimelineEntry prompt(TimelineEntry::Prompt);
    prompt.type = 10;
    prompt.text = "Connect the adapter";
    prompt.caption = "Serial Port External Loopback Test";
    prompt.option = 40;
    prompt.lookAndFeel = 80;
    prompt.value = 150;
    TimelineEntry event(TimelineEntry::EventRaised);
    event.name = "IncorrectCharCount";
    event.severity = "error";
    event.vars = {VariableRecord{"PortNumber", Value(qen::String("COM1"))},
                  VariableRecord{"DataRead", Value(static_cast<unsigned long>(255))},
                  VariableRecord{"DataWritten", Value(256)}};
    event.file = "SerialPortTest";
    event.line = 1234;
    TimelineEntry warning(TimelineEntry::EventRaised);
    warning.name = "FailedSetup";
    warning.severity = "warning";
    warning.vars = {VariableRecord{"PortNumber", Value(qen::String("COM1"))}};
    warning.file = "SerialPortTest";
    warning.line = 99;
    TimelineEntry negative(TimelineEntry::EventRaised);
    negative.name = "InvalidBaudRateConfig";
    negative.severity = "error";
    negative.vars = {VariableRecord{"BaudRateIndex", Value(-1)}};
    negative.file = "SerialPortTest";
    negative.line = 5;
    TimelineEntry log(TimelineEntry::Log);
    log.value = 4;
    log.text = "1234 Port: COM1 Incorrect char count";
    TimelineEntry traceIn(TimelineEntry::Trace);
    traceIn.name = "RunTest";
    traceIn.file = "SerialPortTest";
    traceIn.line = 195;
    traceIn.value = 1;
    traceIn.text = "-> RunTest (SerialPortTest:195)";
    TimelineEntry traceOut = traceIn;
    traceOut.value = 0;
    traceOut.text = "<- RunTest (SerialPortTest:195)";
    run.outcome.timeline = {traceIn, progress, percent, prompt, event, warning, negative, log, traceOut};
    return run;
}

tarnhost::RunRecord PassingRun(const std::string& test, const std::string& device) {
    tarnhost::RunRecord run;
    run.test = test;
    run.id = 2;
    run.device = device;
    run.outcome.result = kivu5::TestResult::PASS();
    return run;
}

tarnhost::RunRecord ExceptionRun() {
    tarnhost::RunRecord run = PassingRun("InternalRegisterTest", "COM2");
    run.outcome.result = kivu5::TestResult::EXITEDABNORMALLY();
    run.outcome.exception = true;
    run.outcome.exceptionMessage = "TARN Driver not installed!";
    return run;
}

tarnhost::RunRecord RunWithResult(const kivu5::TestResult& result) {
    tarnhost::RunRecord run = PassingRun("InternalRegisterTest", "COM1");
    run.outcome.result = result;
    return run;
}

} // namespace tarnhosttest
