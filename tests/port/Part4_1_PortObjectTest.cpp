// Part 4.1: the port object and its UART register access. The port's name, the constructor's acceptance of
// any number and base, the driver check at construction, and the two library calls of every register access:
// a failed read yields 0x00, a write with the driver closed is skipped.
#include "support/SimFixture.h"
#include "support/Timeline.h"

#include "SerialPort.h"

#include "os/OsBackend.h"
#include "os/TarnKernelModeServices.h"

#include <string>
#include <vector>

using kivu5::TestResult;

namespace {

const std::string DRIVER_CHECK = "DriverOpened(" + tarnos::Hex(TarnKernelModeServices::TARNSRVC_KEY) + ")";

// A kernel-mode library backend whose transfers answer a fixed return code; a read stores a byte anyway.
class CFixedAnswerPortIo : public tarnos::IPortIoBackend {
public:
    CFixedAnswerPortIo(int returnCode, unsigned char stored) : m_returnCode(returnCode), m_stored(stored) {}
    bool DriverOpen() override { return true; }
    int ReadByte(unsigned short, unsigned char* value) override {
        *value = m_stored;
        return m_returnCode;
    }
    int WriteByte(unsigned short, unsigned char) override { return m_returnCode; }

private:
    int m_returnCode;
    unsigned char m_stored;
};

tarnsim::Scenario OnePort(bool withBase) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    if (!withBase) {
        scenario.ports[0].io.reset();
    }
    return scenario;
}

} // namespace

class Part4_1_PortObject : public tarntest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        Use(tarnsim::Scenario::BuiltIn());
    }
    void TearDown() override {
        Sim().Install();
        SimTest::TearDown();
    }
};

// Edge case: port number 1 gives the name COM1 and port number 12 the name COM12.
TEST_F(Part4_1_PortObject, PortNumber1IsNamedCOM1And12IsNamedCOM12) {
    CSerialPort com1(1, 0x3F8);
    CSerialPort com12(12, 0x2F8);
    EXPECT_EQ(com1.GetPortName().str(), "COM1");
    EXPECT_EQ(com12.GetPortName().str(), "COM12");
    EXPECT_EQ(com1.GetIoBaseAddress(), 0x3F8);
    EXPECT_EQ(com12.GetIoBaseAddress(), 0x2F8);
}

// Edge case: the constructor accepts any number, including 0 and 0xFFFF.
TEST_F(Part4_1_PortObject, ConstructorAcceptsPortNumbers0And0xFFFF) {
    EXPECT_NO_THROW({
        CSerialPort zero(0, 0x3F8);
        EXPECT_EQ(zero.GetPortName().str(), "COM0");
    });
    EXPECT_NO_THROW({
        CSerialPort invalid(0xFFFF, 0x3F8);
        EXPECT_EQ(invalid.GetPortName().str(), "COM65535");
    });
    CSerialPort anyBase(3, 0xFFFF);
    EXPECT_EQ(anyBase.GetIoBaseAddress(), 0xFFFF);
}

// Construction checks the driver once, with the fixed key, and touches neither register nor port.
TEST_F(Part4_1_PortObject, ConstructionMakesOneDriverCheckAndNoOtherCall) {
    CSerialPort port(1, 0x3F8);
    EXPECT_EQ(Trace(), std::vector<std::string>{DRIVER_CHECK + " -> 1"});
}

TEST_F(Part4_1_PortObject, ConstructionWithoutTheDriverThrowsTarnDriverNotInstalled) {
    Sim().SetDriverInstalled(false);
    bool thrown = false;
    try {
        CSerialPort port(1, 0x3F8);
    } catch (const qen::AssertionFailure&) {
        ADD_FAILURE() << "a plain qen::Exception, not an assertion";
    } catch (const qen::Exception& e) {
        thrown = true;
        EXPECT_EQ(e.getMessage().str(), "TARN Driver not installed!");
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(Trace(), std::vector<std::string>{DRIVER_CHECK + " -> 0"});
}

// Edge case: an I/O base of NO_IO_BASE_ADDRESS is accepted by the constructor; every register-level user
// checks for it first and touches no register (Parts 3.2, 5.1, 5.2, 5.3).
TEST_F(Part4_1_PortObject, NoIoBaseAddressIsAcceptedAndNoRegisterLevelUserTouchesARegister) {
    CSerialPort port(1, NO_IO_BASE_ADDRESS);
    EXPECT_EQ(port.GetIoBaseAddress(), 0xFF9D);
    for (const char* test :
         {"InternalRegisterTest", "InternalControlSignalsTest", "InternalSendAndReceiveTest"}) {
        Use(OnePort(false));
        kivu5::RunOutcome outcome = Run(test);
        EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED()) << test;
        EXPECT_TRUE(RegisterTrace().empty()) << test << ": " << testing::PrintToString(RegisterTrace());
        EXPECT_TRUE(tarntest::EventNames(outcome.timeline).empty()) << test;
    }
}

// Edge case: a read whose library call returns a nonzero code yields 0x00, even if the library stored a byte.
TEST_F(Part4_1_PortObject, FailingPortReadByteYieldsZeroEvenIfTheLibraryStoredAByte) {
    CSerialPort port(1, 0x3F8);
    CFixedAnswerPortIo failing(2, 0xA5);
    tarnos::SetBackends(&Sim(), &failing);
    tarnos::CallTrace::Instance().Clear();
    EXPECT_EQ(port.ReadRegister(0x3FD), 0x00);
    EXPECT_EQ(Trace(), (std::vector<std::string>{DRIVER_CHECK + " -> 1", "PortReadByte(0x3FD) -> 2"}));

    CFixedAnswerPortIo succeeding(0, 0xA5);
    tarnos::SetBackends(&Sim(), &succeeding);
    EXPECT_EQ(port.ReadRegister(0x3FD), 0xA5) << "return code 0: the byte stored";
}

TEST_F(Part4_1_PortObject, FailingPortWriteByteIsSilent) {
    CSerialPort port(1, 0x3F8);
    CFixedAnswerPortIo failing(2, 0x00);
    tarnos::SetBackends(&Sim(), &failing);
    tarnos::CallTrace::Instance().Clear();
    EXPECT_NO_THROW(port.WriteRegister(0x3FC, 0x10));
    EXPECT_EQ(Trace(), (std::vector<std::string>{DRIVER_CHECK + " -> 1", "PortWriteByte(0x3FC, 0x10) -> 2"}));
}

// Edge case: with the driver reported as not open (after construction), a write is skipped and a read yields
// 0x00; only the driver checks are made.
TEST_F(Part4_1_PortObject, DriverClosedAfterConstructionReadYieldsZeroAndWriteIsSkipped) {
    CSerialPort port(1, 0x3F8);
    ASSERT_NE(port.ReadRegister(0x3FD), 0x00)
        << "a 16550A's LSR reads THRE and TEMT while the driver is open";
    const uint8_t mcr = Sim().UartRegister(0, 4);
    Sim().SetDriverInstalled(false);
    tarnos::CallTrace::Instance().Clear();
    EXPECT_EQ(port.ReadRegister(0x3FD), 0x00);
    port.WriteRegister(0x3FC, static_cast<unsigned char>(mcr ^ 0x1F));
    EXPECT_EQ(Trace(), (std::vector<std::string>{DRIVER_CHECK + " -> 0", DRIVER_CHECK + " -> 0"}));
    Sim().SetDriverInstalled(true);
    EXPECT_EQ(Sim().UartRegister(0, 4), mcr) << "the write did not reach the UART";
}

// Every register access is two library calls, the driver check and the transfer; nothing is cached.
TEST_F(Part4_1_PortObject, EveryRegisterAccessIsExactlyTwoLibraryCalls) {
    CSerialPort port(1, 0x3F8);
    tarnos::CallTrace::Instance().Clear();
    port.WriteRegister(0x3FF, 0x5A);
    const unsigned char first = port.ReadRegister(0x3FF);
    const unsigned char second = port.ReadRegister(0x3FF);
    EXPECT_EQ(first, 0x5A) << "the scratch register keeps what was written";
    EXPECT_EQ(second, 0x5A);
    const std::vector<std::string> expected = {DRIVER_CHECK + " -> 1", "PortWriteByte(0x3FF, 0x5A) -> 0",
                                               DRIVER_CHECK + " -> 1", "PortReadByte(0x3FF) -> 0 0x5A",
                                               DRIVER_CHECK + " -> 1", "PortReadByte(0x3FF) -> 0 0x5A"};
    EXPECT_EQ(Trace(), expected);
}

// The register address is passed to the library as it is given, zero-extended.
TEST_F(Part4_1_PortObject, RegisterAddressIsPassedZeroExtended) {
    CSerialPort port(1, 0x3F8);
    tarnos::CallTrace::Instance().Clear();
    EXPECT_EQ(port.ReadRegister(0xFFFF), 0xFF) << "no UART answers there";
    port.WriteRegister(0x8001, 0x01);
    EXPECT_EQ(
        Trace({"PortReadByte", "PortWriteByte"}),
        (std::vector<std::string>{"PortReadByte(0xFFFF) -> 0 0xFF", "PortWriteByte(0x8001, 0x1) -> 0"}));
}
