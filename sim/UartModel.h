// The register-level hardware at a port's I/O base: eight byte-wide registers, RBR/THR to SCR. A model
// is chosen by UartConfig::model and takes its faults from that config.
#pragma once

#include "sim/Scenario.h"

#include <cstdint>
#include <memory>

namespace tarnsim {

class CVirtualClock;

class IUartModel {
public:
    virtual ~IUartModel() = default;
    // offset is 0..7; reads and writes have the side effects the hardware has (DR cleared, ...).
    virtual uint8_t Read(unsigned offset) = 0;
    virtual void Write(unsigned offset, uint8_t value) = 0;
};

// The model of config.model. config and clock must outlive it.
std::unique_ptr<IUartModel> MakeUartModel(UartConfig& config, const CVirtualClock& clock);

} // namespace tarnsim
