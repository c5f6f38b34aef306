// Parameter values as text (--set and settings strings): BaudRates numbers in decimal and 0x hex, the
// empty list, and every kind of bad number; PromptUserForLoopBack true/false.
#include "host/ParameterText.h"
#include "host/HostError.h"

#include <gtest/gtest.h>

namespace tarnhost {
namespace {

std::string ErrorLine(const std::string& text) {
    try {
        ParseUint32List(text, "--set BaudRates");
    } catch (const CHostInputError& e) {
        EXPECT_EQ(e.ExitStatus(), EXIT_BAD_INPUT);
        return e.Line();
    }
    return "";
}

TEST(ParameterText, BaudRatesDecimalAndHexInOrderWithDuplicates) {
    EXPECT_EQ(ParseUint32List("9600,0x1C200,300,0X12c0,9600", "x"),
              (std::vector<uint32_t>{9600, 115200, 300, 4800, 9600}));
}

TEST(ParameterText, BaudRatesBlanksAroundEntriesAreAllowed) {
    EXPECT_EQ(ParseUint32List(" 9600 , 115200 ", "x"), (std::vector<uint32_t>{9600, 115200}));
}

TEST(ParameterText, BaudRatesEmptyValueIsTheEmptyArray) {
    EXPECT_TRUE(ParseUint32List("", "x").empty());
    kivu5::Value value = ParseParameterValue(kivu5::DataType::Uint32Array, "", "x");
    EXPECT_EQ(value.kind(), kivu5::DataType::Uint32Array);
    EXPECT_EQ(value.Uint32ArraySize(), 0u);
}

TEST(ParameterText, BaudRatesLargestValues) {
    EXPECT_EQ(ParseUint32List("4294967295,0xFFFFFFFF,0", "x"),
              (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFFFFFFFu, 0}));
}

TEST(ParameterText, BaudRatesNegativeIsBadInput) {
    EXPECT_EQ(ErrorLine("9600,-1"),
              "tarnserialport: --set BaudRates: \"-1\" is not an unsigned 32-bit number (decimal or 0x hex)");
}

TEST(ParameterText, BaudRatesAboveFFFFFFFFIsBadInput) {
    EXPECT_EQ(ErrorLine("4294967296"),
              "tarnserialport: --set BaudRates: \"4294967296\" is larger than 4294967295 "
              "(0xFFFFFFFF)");
    EXPECT_EQ(ErrorLine("0x100000000"),
              "tarnserialport: --set BaudRates: \"0x100000000\" is larger than 4294967295 "
              "(0xFFFFFFFF)");
    EXPECT_EQ(ErrorLine("99999999999999999999999"),
              "tarnserialport: --set BaudRates: \"99999999999999999999999\" is larger than 4294967295 "
              "(0xFFFFFFFF)");
}

TEST(ParameterText, BaudRatesGarbageIsBadInput) {
    for (const char* garbage : {"abc", "12abc", "1e3", "+5", "0x", "0xG", "9600.0", "96 00"}) {
        EXPECT_EQ(ErrorLine(garbage), std::string("tarnserialport: --set BaudRates: \"") + garbage +
                                          "\" is not an unsigned 32-bit number (decimal or 0x hex)")
            << garbage;
    }
}

TEST(ParameterText, BaudRatesEmptyEntryIsBadInput) {
    EXPECT_EQ(ErrorLine("9600,,115200"),
              "tarnserialport: --set BaudRates: empty entry in the list \"9600,,115200\"");
    EXPECT_EQ(ErrorLine("9600,"), "tarnserialport: --set BaudRates: empty entry in the list \"9600,\"");
}

TEST(ParameterText, PromptFlagTrueAndFalseOnly) {
    EXPECT_TRUE(ParseParameterValue(kivu5::DataType::Boolean, "true", "x").valueBool());
    EXPECT_FALSE(ParseParameterValue(kivu5::DataType::Boolean, "false", "x").valueBool());
    EXPECT_EQ(ParseParameterValue(kivu5::DataType::Boolean, "true", "x").kind(), kivu5::DataType::Boolean);
    try {
        ParseParameterValue(kivu5::DataType::Boolean, "1", "--set PromptUserForLoopBack");
        ADD_FAILURE() << "1 accepted";
    } catch (const CHostInputError& e) {
        EXPECT_EQ(e.Line(), "tarnserialport: --set PromptUserForLoopBack: \"1\" is not true or false");
    }
}

TEST(ParameterText, ValuesAsPeopleReadThem) {
    EXPECT_EQ(ParameterValueText(kivu5::Value::Uint32Array({9600, 115200})), "9600,115200");
    EXPECT_EQ(ParameterValueText(kivu5::Value::Bool(false)), "false");
}

} // namespace
} // namespace tarnhost
