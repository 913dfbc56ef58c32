#include "usb/UnitListing.h"

#include <cstdio>

#include "usb/ControlHeader.h"
#include "usb/DeviceDiscovery.h"

namespace hx {

std::vector<UnitListing> listUnits(IUnitDriver& driver) {
    std::vector<UnitListing> units;
    for (const std::string& path : driver.presentInterfaces()) {
        UnitListing unit;
        unit.devicePath = path;
        unit.deviceId = deviceIdFromPath(path);
        LinkResult<DriverHandle> opened = driver.open(path);
        if (opened.ok()) {
            auto request = descriptorRequest();
            std::uint8_t descriptor[kDeviceDescriptorSize] = {};
            std::size_t returned = 0;
            unit.problem = driver.ioControl(opened.value, kIoctlGetDescriptor, request.data(), request.size(),
                                            descriptor, sizeof descriptor, &returned);
            if (unit.problem == LinkError::None) {
                if (auto fields = parseDeviceDescriptor(descriptor, returned))
                    unit.bcdDevice = fields->bcdDevice;
                else
                    unit.problem = LinkError::Protocol;
            }
            driver.close(opened.value);
        } else {
            unit.problem = opened.error;
        }
        units.push_back(std::move(unit));
    }
    return units;
}

std::string formatUnitListing(const UnitListing& unit) {
    char id[16] = "?";
    if (unit.deviceId >= 0) std::snprintf(id, sizeof id, "%d", unit.deviceId + 1);
    char version[48];
    if (unit.bcdDevice) {
        // bcdDevice is binary-coded decimal: 0x0105 is release 1.05.
        std::snprintf(version, sizeof version, "version %x.%02x", *unit.bcdDevice >> 8,
                      *unit.bcdDevice & 0xFF);
    } else {
        std::snprintf(version, sizeof version, "version ?");
    }
    std::string line = std::string("ID ") + id + "  " + version + "  " + unit.devicePath;
    if (!unit.bcdDevice)
        line += "  (" +
                linkErrorText(unit.problem == LinkError::None ? LinkError::NoPermission : unit.problem) + ")";
    return line;
}

}  // namespace hx
