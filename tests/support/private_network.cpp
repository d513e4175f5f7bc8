#include "tests/support/private_network.h"

#include <fstream>
#include <string>

bool in_private_network_namespace()
{
    // /proc/net/dev lists the interfaces of this process's network
    // namespace: two header lines, then one line per interface.
    std::ifstream devices("/proc/net/dev");
    if (!devices) return false;
    std::string line;
    int interfaces = 0;
    bool loopback = false;
    for (int number = 0; std::getline(devices, line); ++number) {
        if (number < 2) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) return false;
        const std::size_t start = line.find_first_not_of(' ');
        const std::string name = line.substr(start, colon - start);
        ++interfaces;
        loopback = loopback || name == "lo";
    }
    return interfaces == 1 && loopback;
}
