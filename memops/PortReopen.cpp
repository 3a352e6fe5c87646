#include "memops/PortReopen.h"

#include "memops/FieldChecks.h"
#include "streams/MessageStreams.h"

using serial::SerialPort;

using streams::msgout;

namespace memops {

PortChoice CurrentPortChoice(const SerialPort& port, const std::string& storedName,
                             uint32_t storedFactor) {
    return {storedName, port.EffectiveRate(), storedFactor};
}

PortChoiceField CheckPortChoice(const std::string& name, const std::string& rateText,
                                const std::string& factorText, PortChoice& choice) {
    long long rate = 0, factor = 0;
    if (!CheckIntegerField(rateText, IntegerKind::Unsigned, PortChoice::kMinRate,
                           PortChoice::kMaxRate, rate))
        return PortChoiceField::Rate;
    if (!CheckIntegerField(factorText, IntegerKind::Unsigned, PortChoice::kMinFactor,
                           PortChoice::kMaxFactor, factor))
        return PortChoiceField::Factor;
    choice = {name, static_cast<uint32_t>(rate), static_cast<uint32_t>(factor)};
    return PortChoiceField::None;
}

bool ReopenPort(SerialPort& port, const PortChoice& chosen, PortChoice& stored) {
    const uint32_t previousRate = port.EffectiveRate();
    port.SetBaudrateFactor(chosen.factor);
    if (port.Open(chosen.name, chosen.rate)) {
        stored.name = chosen.name;
        stored.factor = chosen.factor;
        return true;
    }
    msgout() << "Cannot open port " << chosen.name << "\n";
    port.SetBaudrateFactor(stored.factor);
    port.Open(stored.name, previousRate);
    return false;
}

}  // namespace memops
