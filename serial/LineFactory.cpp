#include "serial/LineFactory.h"

#include "serial/SerialLine.h"

std::unique_ptr<ISerialLine> MakeSerialLine(DeviceResolver resolver) {
    auto line = std::make_unique<CSerialLine>();
    if (resolver)
        line->SetDeviceResolver(std::move(resolver));
    return line;
}

LineFactory SerialLineFactory(DeviceResolver resolver) {
    return [resolver] { return MakeSerialLine(resolver); };
}

std::string DefaultDeviceForPort(uint32_t n) { return "/dev/ttyS" + std::to_string(n == 0 ? 0 : n - 1); }
