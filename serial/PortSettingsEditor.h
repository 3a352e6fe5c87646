#pragma once
// The port-settings dialog as the serial port sees it: the front end shows the line settings
// for a port and lets the user edit them.

#include <string>

#include "platform/SerialSettings.h"

namespace serial {

class PortSettingsEditor {
  public:
    // Provider subtype of an RS-232 port.
    static constexpr uint32_t kSubtypeRs232 = 1;

    virtual ~PortSettingsEditor() = default;
    // Shows settings (with the nominal rate) for the port; on OK writes the edits back into
    // settings and returns true; on Cancel returns false and leaves them.
    virtual bool Edit(const std::string& portName, uint32_t providerSubtype,
                      platform::SerialSettings& settings) = 0;
};

}  // namespace serial
