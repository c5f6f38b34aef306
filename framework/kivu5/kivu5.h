// The diagnostic framework (namespace kivu5), as the module calls it, with the recorder
// that keeps the ordered timeline of everything the module says during a test run.
#pragma once

#include "qen/qen.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kivu5 {

class KivuString {
public:
    KivuString(const char* text = "") : m_text(text ? text : "") {} // NOLINT: implicit as in the framework
    KivuString(std::string text) : m_text(std::move(text)) {}       // NOLINT
    const std::string& str() const { return m_text; }
    const char* c_str() const { return m_text.c_str(); }
    bool operator==(const KivuString& other) const { return m_text == other.m_text; }

private:
    std::string m_text;
};

class TestResult {
public:
    static TestResult PASS() { return TestResult(0); }
    static TestResult FAIL() { return TestResult(1); }
    static TestResult TESTNOTSTARTED() { return TestResult(2); }
    static TestResult EXITEDABNORMALLY() { return TestResult(3); }
    static TestResult USERABORTED() { return TestResult(4); }
    static TestResult NOTSUPPORTED() { return TestResult(5); }
    static TestResult CANNOTRUN() { return TestResult(6); }
    static TestResult INTERNALERROR() { return TestResult(7); }
    static TestResult NODEVICE() { return TestResult(8); }
    int value() const { return m_value; }
    bool operator==(const TestResult& other) const { return m_value == other.m_value; }
    bool operator!=(const TestResult& other) const { return m_value != other.m_value; }
    const char* name() const; // "PASS", "FAIL", ... as in reports

private:
    explicit TestResult(int value) : m_value(value) {}
    int m_value;
};

class DataType {
public:
    enum Kind { Boolean, Uint32, Uint32Array, Text, Int, Uint };
    static DataType BOOLEAN() { return DataType(Boolean); }
    static DataType UINT32ARRAY() { return DataType(Uint32Array); }
    static DataType UINT32() { return DataType(Uint32); }
    static DataType STRING() { return DataType(Text); }
    Kind kind() const { return m_kind; }
    bool operator==(const DataType& other) const { return m_kind == other.m_kind; }

private:
    explicit DataType(Kind kind) : m_kind(kind) {}
    Kind m_kind;
};

class Value {
public:
    explicit Value(int value);
    explicit Value(unsigned long value);
    explicit Value(const qen::String& value);
    explicit Value(DataType type); // an empty value of that type
    // Framework-side factories (the module does not use them).
    static Value Bool(bool value);
    static Value Uint32(uint32_t value);
    static Value Uint32Array(std::vector<uint32_t> values);

    DataType::Kind kind() const { return m_kind; }
    uint32_t valueUint32() const;
    bool valueBool() const;
    unsigned Uint32ArraySize() const;
    uint32_t getUint32InArray(unsigned index) const;
    // For reports: "text", "int", "uint", "bool", "uint32", "uint32array".
    const char* typeName() const;
    long long number() const { return m_number; }
    const std::string& text() const { return m_text; }
    const std::vector<uint32_t>& array() const { return m_array; }

private:
    Value() = default;
    DataType::Kind m_kind = DataType::Int;
    long long m_number = 0;
    std::string m_text;
    std::vector<uint32_t> m_array;
};

class DeviceCapability {
public:
    static DeviceCapability SerialPort() { return DeviceCapability("SerialPort"); }
    const std::string& name() const { return m_name; }

private:
    explicit DeviceCapability(std::string name) : m_name(std::move(name)) {}
    std::string m_name;
};

class DeviceProperty {
public:
    DeviceProperty(std::string name, Value value) : m_name(std::move(name)), m_value(std::move(value)) {}
    const std::string& name() const { return m_name; }
    Value value() const { return m_value; }

private:
    std::string m_name;
    Value m_value;
};

class DiagDevice {
public:
    explicit DiagDevice(std::string name) : m_name(std::move(name)) {}
    const DeviceProperty* property(const KivuString& name) const;
    // Framework side.
    const std::string& name() const { return m_name; }
    void setProperty(const std::string& name, Value value);
    const std::vector<DeviceProperty>& properties() const { return m_properties; }

private:
    std::string m_name;
    std::vector<DeviceProperty> m_properties;
};

class Parameter {
public:
    Parameter(std::string name, DataType type, std::string description, bool flag1, bool flag2);
    Value value() const { return m_value; }
    // Framework side.
    const std::string& name() const { return m_name; }
    DataType type() const { return m_type; }
    const std::string& description() const { return m_description; }
    bool flag1() const { return m_flag1; }
    bool flag2() const { return m_flag2; }
    void setValue(Value value) { m_value = std::move(value); }

private:
    std::string m_name;
    DataType m_type;
    std::string m_description;
    bool m_flag1;
    bool m_flag2;
    Value m_value;
};

class Test {
public:
    typedef TestResult (*EntryFunction)(const DiagDevice&);
    Test(std::string name, DeviceCapability capability, EntryFunction entryFunction);
    Test* addDevicePropertyRequirement(const KivuString& name, const KivuString& value);
    Test* addParameter(const Parameter* parameter);
    KivuString localizedName() const;
    // Framework side.
    const std::string& name() const { return m_name; }
    const DeviceCapability& capability() const { return m_capability; }
    EntryFunction entry() const { return m_entry; }
    const std::vector<std::pair<std::string, std::string>>& requirements() const { return m_requirements; }
    const std::vector<const Parameter*>& parameters() const { return m_parameters; }

private:
    std::string m_name;
    DeviceCapability m_capability;
    EntryFunction m_entry;
    std::vector<std::pair<std::string, std::string>> m_requirements;
    std::vector<const Parameter*> m_parameters;
};

struct VariableRecord {
    std::string name;
    Value value;
};

class Event {
public:
    explicit Event(std::string name) : m_name(std::move(name)) {}
    Event* setVariable(const KivuString& name, const Value& value);
    // Framework side.
    const std::string& name() const { return m_name; }
    // The variables set since the previous raise, in the order first set; a raise takes them.
    std::vector<VariableRecord> takeVariables();

private:
    std::string m_name;
    std::vector<VariableRecord> m_pending;
};

class LocalizedString {
public:
    explicit LocalizedString(std::string name) : m_name(std::move(name)) {}
    void setVariable(const KivuString& name, const Value& value);
    KivuString localizedString() const; // the English text with the variables filled in
    // Framework side.
    const std::string& name() const { return m_name; }
    const std::vector<VariableRecord>& variables() const { return m_variables; }

private:
    std::string m_name;
    std::vector<VariableRecord> m_variables;
};

// Message-box enumerations: the values the module passes when it asks for the loopback adapter.
enum MsgBoxType { MSGBOX_TYPE_OK_CANCEL = 10 };
enum MsgBoxOption { MSGBOX_OPTION_DEFAULT_OK = 40 };
enum LookAndFeel { LOOKANDFEEL_QUESTION = 80 };
enum MsgBoxReturn { MSGBOX_RETURN_OK = 100, MSGBOX_RETURN_CANCEL = 150 };
// The "answer from the settings file when it presets one" marker.
unsigned FROM_SETTINGS_FILE();

class DiagModule {
public:
    static void setCmdLineArgs(int argc, const char* const* argv);
    static void setVersion(unsigned major, unsigned minor, const KivuString& build);
    static void setModuleInitCallback(void (*callback)());
    static int start();

    static Test* createTest(const KivuString& name, const DeviceCapability& capability,
                            TestResult (*entryFunction)(const DiagDevice&));
    static Parameter* createParameter(const KivuString& name, const DataType& type,
                                      const KivuString& description, bool flag1, bool flag2);
    static Event* createEvent(const KivuString& name);
    static LocalizedString* createLocalizedString(const KivuString& name);

    static void error(Event* event, const KivuString& sourceFile, int line);
    static void warning(Event* event, const KivuString& sourceFile, int line);
    static void informative(Event* event, const KivuString& sourceFile, int line);
    static void progress(LocalizedString* text);
    static void percentDone(int percent);
    static bool checkForStop();
    static MsgBoxReturn createMessageBox(MsgBoxType type, const KivuString& text, const KivuString& caption,
                                         MsgBoxOption option, LookAndFeel lookAndFeel, KivuString* details,
                                         bool (*callback)(const DiagDevice&, const void*),
                                         const void* context, unsigned answerSource, unsigned timeout,
                                         bool modal);
};

} // namespace kivu5
