#pragma once

#include <fstream>
#include <string>

// A line of /proc/self/status ("VmRSS", "VmHWM") in megabytes.
inline double statusMegabytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::stod(line.substr(prefix.size())) / 1024.0;
    }
    return 0.0;
}
