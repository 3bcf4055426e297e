#pragma once
// Linux port listing from sysfs.
#include <string>
#include <vector>

// The tty devices under `classDir` (normally /sys/class/tty) that are real
// serial ports: those whose device has a driver bound, leaving out the
// on-board UART slots the kernel reserves without a chip behind them (their
// "type" reads 0). Consoles and pseudo-terminals have no driver and never
// appear. Names without /dev, in natural order (ttyS2 before ttyS10).
std::vector<std::string> SysfsSerialPorts(const std::string& classDir);

// The COM number a Linux device name stands for: ttyS<n> is COM(n+1);
// 0 for any other name.
int ComNumberOfDevice(const std::string& name);
