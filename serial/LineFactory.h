#pragma once
// Where the worker's serial line comes from: the platform's own line, or whatever a
// front end or a test hands in instead. Nothing outside this folder names the
// concrete line.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/ISerialLine.h"

// The device that COM port n means, for port numbers a front end maps itself.
using DeviceResolver = std::function<std::string(uint32_t portNumber)>;
// Makes one line for a worker.
using LineFactory = std::function<std::unique_ptr<ISerialLine>()>;

// The platform's serial line; its port numbers reach the devices `resolver` names,
// or the platform's default device of each number without one.
std::unique_ptr<ISerialLine> MakeSerialLine(DeviceResolver resolver = {});

// A factory of such lines, all resolving port numbers alike.
LineFactory SerialLineFactory(DeviceResolver resolver = {});

// The device of COM port n when nothing maps it: /dev/ttyS<n-1> on Linux, \\.\COMn
// on Windows.
std::string DefaultDeviceForPort(uint32_t portNumber);
