#pragma once
// The unit driver's contract, as the transport relies on it: the present
// interfaces of the unit class as device paths (containing "pid_XXXX#"),
// opening a unit path or a pipe path ("<path>\if000pipe000"), the six request
// codes with their byte buffers, pipe reads (blocking, cancellable) and writes,
// and arrival/removal notices with the device path.
// Two implementations: the simulated driver (src/sim) and libusb (real units).
// All methods are thread-safe: the receiver thread reads a pipe while the
// user-interface thread issues requests.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "usb/LinkError.h"

namespace hx {

using DriverHandle = std::int32_t;
constexpr DriverHandle kInvalidHandle = -1;

// Device I/O control codes: device type 0x22, functions 1 to 6, buffered.
enum : std::uint32_t {
    kIoctlResetUnit = 0x220004,         // in: 1 byte (15)
    kIoctlResetPipe = 0x220008,         // on a pipe handle, no buffers
    kIoctlControlRead = 0x22000C,       // in: 16-byte control header; out: reply
    kIoctlControlWrite = 0x220010,      // in: control header + data
    kIoctlGetDescriptor = 0x220014,     // in: 4-byte descriptor request; out: 18 bytes
    kIoctlGetConfiguration = 0x220018,  // out: 4 bytes, non-zero when configured
};

// A pipe read: error None with the bytes transferred (may be 0); Protocol for a
// stalled pipe (it needs a pipe reset), Io for a failed device (a unit reset may
// cure it), Cancelled after cancelRead(), UnitGone for a handle or unit that no
// longer exists.
struct PipeReadResult {
    LinkError error = LinkError::Io;
    std::size_t bytes = 0;
    bool waited = false;  // the read did not finish at once (it was pending)
};

enum class DeviceNotice { Arrival, Removal };

class IUnitDriver {
  public:
    virtual ~IUnitDriver() = default;

    // Device paths of the present interfaces of the unit class, in system order.
    virtual std::vector<std::string> presentInterfaces() = 0;

    // Opens a unit path or a pipe path: the handle, or why not (UnitGone when
    // it does not exist, NoPermission, Busy, ...) with kInvalidHandle.
    virtual LinkResult<DriverHandle> open(const std::string& path) = 0;
    virtual void close(DriverHandle handle) = 0;

    // One device I/O control request (the resets among them). Returns None on
    // success, else the cause; *returned gets the bytes written to out.
    virtual LinkError ioControl(DriverHandle handle, std::uint32_t code, const std::uint8_t* in,
                                std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                                std::size_t* returned) = 0;

    // Blocking read of up to length bytes (one record) from a pipe handle.
    virtual PipeReadResult readPipe(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) = 0;
    // Reads for an event loop in virtual time, which reads on its own thread
    // instead of the receiver's: readPipeNow is readPipe that returns at once
    // with 0 bytes when nothing is queued. Only a driver whose
    // readsWithoutWaiting() is true offers it; the others' reads wait (for a
    // record or their own time-out), so they are read on a thread.
    virtual bool readsWithoutWaiting() const { return false; }
    virtual PipeReadResult readPipeNow(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) {
        return readPipe(pipe, buffer, length);
    }
    // Ends a read in progress on the pipe (it returns Cancelled) and makes later
    // reads on that handle return Cancelled at once until the handle is closed.
    virtual void cancelRead(DriverHandle pipe) = 0;
    // Writes a whole buffer to a pipe handle; None, or the cause.
    virtual LinkError writePipe(DriverHandle pipe, const std::uint8_t* data, std::size_t length) = 0;

    // Arrival and removal notices, called on a driver thread. Returns why
    // notices cannot be delivered (the caller then re-checks on its own), or None.
    using NoticeHandler = std::function<void(DeviceNotice, const std::string& devicePath)>;
    virtual LinkError setNoticeHandler(NoticeHandler handler) = 0;
};

}  // namespace hx
