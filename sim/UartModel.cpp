#include "sim/UartModel.h"

#include "sim/NsBankedUart.h"
#include "sim/Uart16550.h"

namespace tarnsim {
namespace {

// A UART that answers a script: each read of an offset takes the next value of that offset's list and
// keeps the last, whatever bank or DLAB the chip would select; an offset without a list floats high.
// Writes vanish. With an empty script it is no UART at all: nothing answers at the address.
class CScriptedUart : public IUartModel {
public:
    explicit CScriptedUart(const UartScript& script) : m_script(script) {}

    uint8_t Read(unsigned offset) override {
        const std::vector<uint8_t>& values = m_script[offset];
        if (values.empty()) {
            return FLOATING_BUS;
        }
        const uint8_t value = values[m_next[offset]];
        if (m_next[offset] + 1 < values.size()) {
            ++m_next[offset];
        }
        return value;
    }
    void Write(unsigned, uint8_t) override {}

private:
    static const uint8_t FLOATING_BUS = 0xFF;
    const UartScript& m_script;
    std::array<size_t, UART_REGISTER_COUNT> m_next{}; // the index of each offset's next value
};

const UartScript NOTHING_ANSWERS{};

} // namespace

std::unique_ptr<IUartModel> MakeUartModel(UartConfig& config, const CVirtualClock& clock) {
    switch (config.model) {
    case UartConfig::Model::NsBanked:
        return std::unique_ptr<IUartModel>(new CNsBankedUart(config, clock));
    case UartConfig::Model::Absent:
        return std::unique_ptr<IUartModel>(new CScriptedUart(NOTHING_ANSWERS));
    case UartConfig::Model::Scripted:
        return std::unique_ptr<IUartModel>(new CScriptedUart(config.reads));
    default:
        return std::unique_ptr<IUartModel>(new CUart16550(config, clock));
    }
}

} // namespace tarnsim
