#include "sim/UartModel.h"

#include "sim/NsBankedUart.h"
#include "sim/Uart16550.h"

namespace tarnsim {
namespace {

// Nothing answers at the address: the data lines float high and writes go nowhere.
class CAbsentUart : public IUartModel {
public:
    uint8_t Read(unsigned) override { return FLOATING_BUS; }
    void Write(unsigned, uint8_t) override {}
    uint8_t Peek(unsigned) override { return FLOATING_BUS; }

private:
    static const uint8_t FLOATING_BUS = 0xFF;
};

} // namespace

std::unique_ptr<IUartModel> MakeUartModel(UartConfig& config, const CVirtualClock& clock) {
    switch (config.model) {
    case UartConfig::Model::NsBanked:
        return std::unique_ptr<IUartModel>(new CNsBankedUart(config, clock));
    case UartConfig::Model::Absent:
        return std::unique_ptr<IUartModel>(new CAbsentUart());
    default:
        return std::unique_ptr<IUartModel>(new CUart16550(config, clock));
    }
}

} // namespace tarnsim
