#include "usb/LinkError.h"

namespace hx {

std::string linkErrorText(LinkError error) {
    switch (error) {
        case LinkError::None:
            return "no error";
        case LinkError::UnitGone:
            return "the unit is gone: unplugged or switched off";
        case LinkError::NoPermission:
            return "no permission to open the unit: is the udev rule installed?";
        case LinkError::Busy:
            return "the unit is busy: another program holds it";
        case LinkError::TimedOut:
            return "the unit did not answer in time";
        case LinkError::Protocol:
            return "the unit did not answer as expected";
        case LinkError::Io:
            return "a USB transfer failed";
        case LinkError::NotSupported:
            return "not supported by the system";
        case LinkError::Cancelled:
            return "cancelled";
        case LinkError::NotConfigured:
            return "the units' USB vendor ID is not set";
    }
    return "unknown link error";
}

}  // namespace hx
