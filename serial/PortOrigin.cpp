#include "serial/PortInventory.h"

std::string DescribePortOrigin(const SerialPortInfo& port) {
    std::string text;
    const auto add = [&](const std::string& part) {
        if (!part.empty())
            text += (text.empty() ? "" : ", ") + part;
    };
    add(port.driver);
    std::string maker = port.manufacturer;
    if (!port.product.empty())
        maker += (maker.empty() ? "" : " ") + port.product;
    add(maker);
    if (!port.serialNumber.empty())
        add("serial " + port.serialNumber);
    add(port.usbId);
    return text;
}
