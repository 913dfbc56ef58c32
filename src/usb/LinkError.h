#pragma once
// The link's one error vocabulary: what the drivers, the transport, the
// command channel and the receiver thread give back when a request to a unit
// fails, carried up to the main window's logic and from there to the user.

#include <cstdint>
#include <string>

namespace hx {

enum class LinkError : std::uint8_t {
    None = 0,       // no error
    UnitGone,       // the unit (or the handle) no longer exists: unplugged, switched off, not there
    NoPermission,   // the system refused access to the unit (its device file's rights)
    Busy,           // another program holds the unit
    TimedOut,       // the unit did not answer in time
    Protocol,       // the unit refused the request or answered out of turn (a stalled pipe, a short reply)
    Io,             // the transfer failed on the bus (a unit reset may cure it)
    NotSupported,   // the system cannot do this (device notices without hotplug support)
    Cancelled,      // the program itself ended the request (a read cancelled at close)
    NotConfigured,  // the units' USB vendor ID is not set, so no unit can be looked for
};

// The error's text as the user reads it, in lower case ("no permission to open the unit").
std::string linkErrorText(LinkError error);

// A value, or why the link could not give one. A failed result holds the
// value type's default (kInvalidHandle-like values are set by the caller).
template <typename T>
struct LinkResult {
    T value{};
    LinkError error = LinkError::None;

    bool ok() const { return error == LinkError::None; }
};

}  // namespace hx
