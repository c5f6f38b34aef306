#include "kivu5/kivu5.h"

#include "kivu5/Framework.h"
#include "os/OsBackend.h"

#include <algorithm>

namespace kivu5 {
namespace {

struct Registry {
    std::vector<std::string> creationLog;
    std::vector<std::unique_ptr<Test>> testStore;
    std::vector<Test*> tests;
    std::vector<std::unique_ptr<Event>> eventStore;
    std::vector<Event*> events;
    std::vector<std::unique_ptr<LocalizedString>> stringStore;
    std::vector<LocalizedString*> strings;
    std::vector<std::unique_ptr<Parameter>> parameterStore;
    std::vector<Parameter*> parameters;
    std::vector<std::string> commandLine;
    std::string version;
    void (*initCallback)() = nullptr;
    bool initDone = false;
    HostHooks hooks;
    std::vector<TimelineEntry> timeline;
    unsigned stopChecks = 0;
};

void RecordLogLine(const qen::LogLine& line);

// Constructed on first use: the module creates its objects during static initialisation.
Registry& R() {
    static Registry* registry = [] {
        qen::LogSink::setListener(RecordLogLine); // every line the logger writes joins the run's timeline
        return new Registry();                    // lives until the process ends, like the framework
    }();
    return *registry;
}

void RecordLogLine(const qen::LogLine& line) {
    TimelineEntry entry{line.isTrace ? TimelineEntry::Trace : TimelineEntry::Log};
    entry.value = line.isTrace ? (line.text.rfind("->", 0) == 0 ? 1 : 0) : line.priority;
    entry.text = line.text;
    entry.name = line.function;
    entry.file = line.sourceFile;
    entry.line = line.line;
    Framework::record(std::move(entry));
}

uint64_t NowMs() {
    return tarnos::Win32Backend().GetTickCount();
}

void Raise(Event* event, const char* severity, const KivuString& sourceFile, int line) {
    if (event == nullptr) {
        return;
    }
    TimelineEntry entry{TimelineEntry::EventRaised};
    entry.name = event->name();
    entry.severity = severity;
    entry.vars = event->takeVariables();
    entry.file = sourceFile.str();
    entry.line = line;
    Framework::record(std::move(entry));
}

void SetVar(std::vector<VariableRecord>& vars, const KivuString& name, const Value& value) {
    for (VariableRecord& v : vars) {
        if (v.name == name.str()) {
            v.value = value;
            return;
        }
    }
    vars.push_back(VariableRecord{name.str(), value});
}

} // namespace

const char* TestResult::name() const {
    static const char* const names[] = {"PASS",        "FAIL",         "TESTNOTSTARTED", "EXITEDABNORMALLY",
                                        "USERABORTED", "NOTSUPPORTED", "CANNOTRUN",      "INTERNALERROR",
                                        "NODEVICE"};
    return (m_value >= 0 && m_value < 9) ? names[m_value] : "UNKNOWN";
}

Value::Value(int value) : m_kind(DataType::Int), m_number(value) {}
Value::Value(unsigned long value) : m_kind(DataType::Uint), m_number(static_cast<long long>(value)) {}
Value::Value(const qen::String& value) : m_kind(DataType::Text), m_text(value.str()) {}
Value::Value(DataType type) : m_kind(type.kind()) {}

Value Value::Bool(bool value) {
    Value v;
    v.m_kind = DataType::Boolean;
    v.m_number = value ? 1 : 0;
    return v;
}
Value Value::Uint32(uint32_t value) {
    Value v;
    v.m_kind = DataType::Uint32;
    v.m_number = value;
    return v;
}
Value Value::Uint32Array(std::vector<uint32_t> values) {
    Value v;
    v.m_kind = DataType::Uint32Array;
    v.m_array = std::move(values);
    return v;
}

uint32_t Value::valueUint32() const {
    return static_cast<uint32_t>(m_number);
}
bool Value::valueBool() const {
    return m_number != 0;
}
unsigned Value::Uint32ArraySize() const {
    return static_cast<unsigned>(m_array.size());
}
uint32_t Value::getUint32InArray(unsigned index) const {
    return index < m_array.size() ? m_array[index] : 0;
}

const char* Value::typeName() const {
    switch (m_kind) {
    case DataType::Text:
        return "text";
    case DataType::Int:
        return "int";
    case DataType::Uint:
        return "uint";
    case DataType::Boolean:
        return "bool";
    case DataType::Uint32:
        return "uint32";
    case DataType::Uint32Array:
        return "uint32array";
    }
    return "unknown";
}

const DeviceProperty* DiagDevice::property(const KivuString& name) const {
    for (const DeviceProperty& p : m_properties) {
        if (p.name() == name.str()) {
            return &p;
        }
    }
    return nullptr;
}

void DiagDevice::setProperty(const std::string& name, Value value) {
    for (DeviceProperty& p : m_properties) {
        if (p.name() == name) {
            p = DeviceProperty(name, std::move(value));
            return;
        }
    }
    m_properties.emplace_back(name, std::move(value));
}

Parameter::Parameter(std::string name, DataType type, std::string description, bool flag1, bool flag2)
    : m_name(std::move(name)), m_type(type), m_description(std::move(description)), m_flag1(flag1),
      m_flag2(flag2), m_value(type) {}

Test::Test(std::string name, DeviceCapability capability, EntryFunction entryFunction)
    : m_name(std::move(name)), m_capability(std::move(capability)), m_entry(entryFunction) {}

Test* Test::addDevicePropertyRequirement(const KivuString& name, const KivuString& value) {
    m_requirements.emplace_back(name.str(), value.str());
    return this;
}

Test* Test::addParameter(const Parameter* parameter) {
    m_parameters.push_back(parameter);
    return this;
}

KivuString Test::localizedName() const {
    return KivuString(EnglishTestName(m_name));
}

Event* Event::setVariable(const KivuString& name, const Value& value) {
    SetVar(m_pending, name, value);
    return this;
}

std::vector<VariableRecord> Event::takeVariables() {
    std::vector<VariableRecord> vars;
    vars.swap(m_pending);
    return vars;
}

void LocalizedString::setVariable(const KivuString& name, const Value& value) {
    SetVar(m_variables, name, value);
}

KivuString LocalizedString::localizedString() const {
    return KivuString(EnglishText(m_name, m_variables));
}

unsigned FROM_SETTINGS_FILE() {
    return 0xF5E77106u;
}

void DiagModule::setCmdLineArgs(int argc, const char* const* argv) {
    R().commandLine.clear();
    for (int i = 0; i < argc && argv; ++i) {
        R().commandLine.push_back(argv[i] ? argv[i] : "");
    }
}

void DiagModule::setVersion(unsigned major, unsigned minor, const KivuString& build) {
    R().version = std::to_string(major) + "." + std::to_string(minor) + "." + build.str();
}

void DiagModule::setModuleInitCallback(void (*callback)()) {
    R().initCallback = callback;
    R().initDone = false;
}

int DiagModule::start() {
    return HostStart();
}

Test* DiagModule::createTest(const KivuString& name, const DeviceCapability& capability,
                             TestResult (*entryFunction)(const DiagDevice&)) {
    R().testStore.emplace_back(new Test(name.str(), capability, entryFunction));
    R().tests.push_back(R().testStore.back().get());
    R().creationLog.push_back("Test " + name.str());
    return R().tests.back();
}

Parameter* DiagModule::createParameter(const KivuString& name, const DataType& type,
                                       const KivuString& description, bool flag1, bool flag2) {
    R().parameterStore.emplace_back(new Parameter(name.str(), type, description.str(), flag1, flag2));
    R().parameters.push_back(R().parameterStore.back().get());
    R().creationLog.push_back("Parameter " + name.str());
    return R().parameters.back();
}

Event* DiagModule::createEvent(const KivuString& name) {
    R().eventStore.emplace_back(new Event(name.str()));
    R().events.push_back(R().eventStore.back().get());
    R().creationLog.push_back("Event " + name.str());
    return R().events.back();
}

LocalizedString* DiagModule::createLocalizedString(const KivuString& name) {
    R().stringStore.emplace_back(new LocalizedString(name.str()));
    R().strings.push_back(R().stringStore.back().get());
    R().creationLog.push_back("LocalizedString " + name.str());
    return R().strings.back();
}

void DiagModule::error(Event* event, const KivuString& sourceFile, int line) {
    Raise(event, "error", sourceFile, line);
}
void DiagModule::warning(Event* event, const KivuString& sourceFile, int line) {
    Raise(event, "warning", sourceFile, line);
}
void DiagModule::informative(Event* event, const KivuString& sourceFile, int line) {
    Raise(event, "informative", sourceFile, line);
}

void DiagModule::progress(LocalizedString* text) {
    if (text == nullptr) {
        return;
    }
    TimelineEntry entry{TimelineEntry::Progress};
    entry.name = text->name();
    entry.vars = text->variables();
    entry.text = text->localizedString().str();
    Framework::record(std::move(entry));
}

void DiagModule::percentDone(int percent) {
    TimelineEntry entry{TimelineEntry::Percent};
    entry.value = percent;
    Framework::record(std::move(entry));
}

bool DiagModule::checkForStop() {
    ++R().stopChecks;
    return R().hooks.stopRequested ? R().hooks.stopRequested() : false;
}

MsgBoxReturn DiagModule::createMessageBox(MsgBoxType type, const KivuString& text, const KivuString& caption,
                                          MsgBoxOption option, LookAndFeel lookAndFeel, KivuString* details,
                                          bool (*callback)(const DiagDevice&, const void*),
                                          const void* context, unsigned answerSource, unsigned timeout,
                                          bool modal) {
    MsgBoxReturn answer = MSGBOX_RETURN_OK;
    if (R().hooks.answerPrompt) {
        answer = R().hooks.answerPrompt(PromptRequest{type, text.str(), caption.str(), answerSource});
    }
    TimelineEntry entry{TimelineEntry::Prompt};
    entry.type = type;
    entry.text = text.str();
    entry.caption = caption.str();
    entry.option = option;
    entry.lookAndFeel = lookAndFeel;
    entry.nullDetails = details == nullptr;
    entry.nullCallback = callback == nullptr;
    entry.nullContext = context == nullptr;
    entry.answerSource = answerSource;
    entry.timeout = timeout;
    entry.modal = modal;
    entry.value = answer;
    Framework::record(std::move(entry));
    return answer;
}

// Framework side.

const std::vector<std::string>& Framework::creationLog() {
    return R().creationLog;
}
const std::vector<Test*>& Framework::tests() {
    return R().tests;
}
const std::vector<Event*>& Framework::events() {
    return R().events;
}
const std::vector<LocalizedString*>& Framework::localizedStrings() {
    return R().strings;
}
const std::vector<Parameter*>& Framework::parameters() {
    return R().parameters;
}

template <class T> static T* FindByName(const std::vector<T*>& list, const std::string& name) {
    auto it = std::find_if(list.begin(), list.end(), [&](const T* item) { return item->name() == name; });
    return it == list.end() ? nullptr : *it;
}
Test* Framework::findTest(const std::string& name) {
    return FindByName(R().tests, name);
}
Event* Framework::findEvent(const std::string& name) {
    return FindByName(R().events, name);
}
LocalizedString* Framework::findLocalizedString(const std::string& name) {
    return FindByName(R().strings, name);
}
Parameter* Framework::findParameter(const std::string& name) {
    return FindByName(R().parameters, name);
}

const std::vector<std::string>& Framework::commandLine() {
    return R().commandLine;
}
std::string Framework::version() {
    return R().version;
}

namespace {
// The module reports every test's result by throwing it. The first exception of a process makes
// the C++ runtime ready its unwind tables, and in a statically linked program (the QEMU guest's) libgcc
// then sorts the frame entries of the whole program: 16 to 26 ms in a TCG guest, which would otherwise land
// in the first test's time (docs/performance.md). Done once, here, before any test runs.
void PrepareExceptionUnwinding() {
    static bool prepared = false;
    if (!prepared) {
        prepared = true;
        try {
            throw prepared;
        } catch (bool) {
        }
    }
}
} // namespace

void Framework::runModuleInit() {
    PrepareExceptionUnwinding();
    if (!R().initDone && R().initCallback) {
        R().initDone = true;
        R().initCallback();
    }
}

void Framework::setHooks(HostHooks hooks) {
    R().hooks = std::move(hooks);
}
HostHooks& Framework::hooks() {
    return R().hooks;
}

void Framework::beginRun() {
    R().timeline.clear();
    R().stopChecks = 0;
}

const std::vector<TimelineEntry>& Framework::timeline() {
    return R().timeline;
}
unsigned Framework::stopChecks() {
    return R().stopChecks;
}

void Framework::record(TimelineEntry entry) {
    entry.timeMs = NowMs();
    R().timeline.push_back(std::move(entry));
    if (R().hooks.onEntry) {
        R().hooks.onEntry(R().timeline.back());
    }
}

RunOutcome RunTestOnDevice(const Test& test, const DiagDevice& device) {
    RunOutcome outcome;
    Framework::beginRun();
    outcome.startMs = NowMs();
    try {
        outcome.result = test.entry()(device);
    } catch (const qen::Exception& e) {
        outcome.result = TestResult::EXITEDABNORMALLY();
        outcome.exception = true;
        outcome.exceptionMessage = e.getMessage().str();
    }
    outcome.endMs = NowMs();
    outcome.timeline = Framework::timeline();
    return outcome;
}

} // namespace kivu5
