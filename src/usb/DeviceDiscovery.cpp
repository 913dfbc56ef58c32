#include "usb/DeviceDiscovery.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "base/ProductId.h"

namespace hx {

std::int16_t deviceIdFromPath(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::size_t at = lower.find("pid");
    if (at == std::string::npos) return -1;
    // The number starts after "pid" and its one separator, and ends at "#".
    std::string rest = at + 4 <= lower.size() ? lower.substr(at + 4) : std::string();
    std::size_t hash = rest.find('#');
    if (hash != std::string::npos) rest.resize(hash);
    long productId = std::strtol(rest.c_str(), nullptr, 16);
    if (productId < kProductIdBase) return -1;
    return static_cast<std::int16_t>(productId - kProductIdBase);
}

std::vector<std::int16_t> findUnitIds(IUnitDriver& driver) {
    std::vector<std::int16_t> found;
    for (const std::string& path : driver.presentInterfaces()) {
        std::int16_t id = deviceIdFromPath(path);
        if (id != -1) found.push_back(id);
    }
    return found;
}

}  // namespace hx
