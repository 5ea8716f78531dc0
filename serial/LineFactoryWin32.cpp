#include "serial/LineFactory.h"

#include "serial/Win32SerialLine.h"

std::unique_ptr<ISerialLine> MakeSerialLine(DeviceResolver resolver) {
    auto line = std::make_unique<CWin32SerialLine>();
    if (resolver)
        line->SetDeviceResolver(std::move(resolver));
    return line;
}

LineFactory SerialLineFactory(DeviceResolver resolver) {
    return [resolver] { return MakeSerialLine(resolver); };
}

std::string DefaultDeviceForPort(uint32_t n) { return "\\\\.\\COM" + std::to_string(n); }
