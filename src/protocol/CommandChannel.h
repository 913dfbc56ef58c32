#pragma once
// The program's one connection to one unit. It owns the unit's two data pipes
// (inbound pipe 0 for records, outbound pipe 1 for the 64-byte frames) and its
// transport slot, and gives every outbound operation a name: key and mode
// commands, the state, clock and menu queries, clock and menu writes, the
// animal-information and version requests and frames. It also gives the
// receiver thread its one read operation. The requests, codes and frames
// are tabled in docs/protocol.md.
//
// Threads: everything except readRecord and cancelRead runs on the
// user-interface thread. readRecord runs on the receiver thread only;
// cancelRead may be called from any thread. Control requests are serialised by
// the control lock; pipe writes and reads are not under it, so a read and a
// control request may run at the same time.
//
// Lifetime: the main window makes a channel, calls ResetPipe once, and deletes
// the channel when ResetPipe fails or the unit is closed or lost. The receiver
// thread must be stopped before the channel is deleted.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/Clock.h"
#include "base/MenuSettings.h"
#include "base/ProductId.h"
#include "base/RecordAreas.h"
#include "usb/LinkLog.h"
#include "usb/Transport.h"
#include "usb/UnitDriver.h"

namespace hx {

// Commands sent with sendCMD: the unit's keys and its mode commands.
enum UnitCommand : int {
    kUnitKeyUp = 1,
    kUnitKeyDown = 2,
    kUnitKeyStart = 4,
    kUnitCommand254 = 254,  // sent right after opening and when the main window closes
    CR_MENU_USB = 910,
    CR_TIME_USB = 911,
    CR_WAIT_USB = 912,
    CR_VIEW = 913,
    CR_IDLE = 914,
    CR_RESTARTVIEW = 915,
};

// Vendor request numbers of the unit.
enum UnitRequest : std::uint8_t {
    kRequestCommand = 1,
    kRequestGetTime = 3,
    kRequestGetMenu = 4,
    kRequestGetState = 5,
    kRequestSetTime = 6,
    kRequestSendMenu = 10,
    kRequestGetAnimalInfo = 12,
    kRequestGetDeviceVer = 14,
};

constexpr std::size_t kFrameSize = 64;
constexpr std::uint8_t kPcVersionMark = 8;  // byte 0 of the PC version frame

using ClockFrame = std::array<std::uint8_t, 8>;
using MenuFrame = std::array<std::uint8_t, 8>;
using OutboundFrame = std::array<std::uint8_t, kFrameSize>;

// The unit's clock as getTime gives it.
struct UnitClock {
    std::int16_t year = 0;  // 2000 to 2099
    std::int16_t month = 0;
    std::int16_t day = 0;
    std::int16_t hour = 0;
    std::int16_t minute = 0;
    std::int16_t second = 0;
    bool operator==(const UnitClock&) const = default;
};

// --- frames, as pure functions -----------------------------------------------

// Clock frame of plain numbers: year - 2000 (the low 8 bits of year + 48),
// month, day, day of the week (1 = Sunday to 7 = Saturday), hour, minute,
// second, 0.
ClockFrame makeClockFrame(int year, int month, int day, int weekday, int hour, int minute, int second);
// The same from a broken-down local time (tm_wday 0 = Sunday).
ClockFrame makeClockFrame(const std::tm& time);

// Clock reply in BCD: byte 0 second, 1 minute, 2 hour, 4 day, 5 month, 6 year
// within 2000 to 2099 (bytes 3 and 7 unused). Each value is tens * 10 + units
// of its two nibbles. Nothing when fewer than 7 bytes are given.
std::optional<UnitClock> parseClockReply(const std::uint8_t* reply, std::size_t length);

// Menu frame: bytes 0 to 2 words 0 to 2; byte 3 flags (bit 0 AUTO-P, 1 DBP,
// 2 USB, 3 PRINT, 4 SOUND, 5 TIME); byte 4 SPEED, 5 TYPE, 6 word 10; byte 7 0.
// A flag bit is set when its word is not 0. Word 10 is sent back as the caller
// holds it (the value last read from the unit).
MenuFrame makeMenuFrame(const MenuSettings& menu);
// Fills all twelve words from a menu frame; flags become 0 or 1, bits 6 and 7
// of byte 3 and byte 7 are ignored.
MenuSettings parseMenuFrame(const MenuFrame& frame);

// PC version frame: byte 8, then the first 63 bytes of text, zero-padded.
OutboundFrame makePcVersionFrame(std::string_view text);

// The data of the animal-information request: bytes 2 to 6 are 7, the rest 0.
std::array<std::uint8_t, 8> animalRequestData();

// The log line of sendCMD for a code ("Pc->sendCMD: CR_VIEW", "Pc->sendCMD: 4").
std::string commandLogLine(int code);

// --- the channel -------------------------------------------------------------

// What one readRecord gave: a record of `bytes` bytes (may be 0) when error is
// None; else why the read failed, and whether the unit is lost for good (a unit
// reset did not cure the failure; error then says why the reset failed).
struct RecordRead {
    std::size_t bytes = 0;
    LinkError error = LinkError::None;
    bool unitLost = false;
};

class CCommandChannel {
  public:
    // Over a transport shared with the caller (it must outlive the channel).
    // Construction re-initialises the transport's table and destruction closes
    // every unit in it, so one channel at a time uses a transport.
    CCommandChannel(CTransport& transport, IClock& clock);
    // Over a driver, with a transport of the channel's own.
    CCommandChannel(IUnitDriver& driver, IClock& clock);
    ~CCommandChannel();
    CCommandChannel(const CCommandChannel&) = delete;
    CCommandChannel& operator=(const CCommandChannel&) = delete;

    // Where the diagnostic lines go (default: the log channel). Set before use.
    void setLogWriter(LinkLogWriter writer) { m_log = std::move(writer); }

    // Opens the unit with this product ID (272 + device ID) and its two pipes.
    // None, or why not: UnitGone when no unit has that product ID, Protocol
    // when it is present but not configured, else the driver's cause
    // (NoPermission, Busy, ...).
    LinkError ResetPipe(std::uint16_t productId);

    // A key or mode command. False, with nothing sent and nothing logged, when
    // the unit is gone or not configured; otherwise true when the request
    // succeeded.
    bool sendCMD(int code);
    // The unit's state (a signed byte), or -1 when the request failed.
    int getState();
    // Reads the unit's clock; on failure returns false and leaves time untouched.
    bool getTime(UnitClock& time);
    // Writes a clock frame; true when the request succeeded.
    bool setTime(const ClockFrame& frame);
    // Reads the menu settings; on failure returns false and leaves menu untouched.
    bool getMenu(MenuSettings& menu);
    // Writes the menu settings (word 10 as the caller holds it); true when the
    // request succeeded.
    bool sendMenu(const MenuSettings& menu);
    // Asks the unit for its animal block (it arrives as a record); true when the
    // request succeeded.
    bool getAnimalInfo();
    // Asks the unit for its version text (it arrives as a record).
    bool getDeviceVer();
    // Writes the 64-byte animal-information block; true when the write succeeded.
    bool sendAnimalInfo(const std::uint8_t* block);
    // Writes the PC version frame made from text (the software version text).
    bool sendPcVer(std::string_view text);

    // Receiver thread only. Reads one record of up to length bytes from the
    // inbound pipe, waiting as long as it takes (or until cancelRead). A failed
    // read is recovered from where it can be: a stalled pipe is reset, a failed
    // or vanished unit is reset (unitLost when that does not cure it).
    RecordRead readRecord(std::uint8_t* buffer, std::size_t length);
    // The same without waiting, for a loop in virtual time that reads on its
    // own thread: 0 bytes at once when nothing is queued. Only when the
    // driver's readsWithoutWaiting() says so; otherwise it waits as readRecord.
    bool readsWithoutWaiting() const;
    RecordRead readRecordNow(std::uint8_t* buffer, std::size_t length);
    // Ends a read in progress; later reads return 0 at once. Any thread.
    void cancelRead();

    IClock& clock() const { return m_clock; }
    CTransport& transport() const { return m_transport; }
    int deviceSlot() const { return m_deviceSlot; }
    DriverHandle inPipe() const { return m_hInPip; }
    DriverHandle outPipe() const { return m_hOutPip; }

  private:
    // A pipe read's outcome, with the resets that recover from a failed one.
    RecordRead recover(const PipeReadResult& read, std::size_t length);
    std::size_t control(int direction, std::uint8_t request, std::uint16_t value, std::size_t length,
                        std::uint8_t* buffer);

    std::unique_ptr<CTransport> m_ownTransport;  // only with the driver constructor
    CTransport& m_transport;
    IClock& m_clock;
    LinkLogWriter m_log;

    int m_deviceSlot = -1;
    DriverHandle m_hInPip = kInvalidHandle;
    DriverHandle m_hOutPip = kInvalidHandle;
    std::mutex m_controlLock;  // one control request in flight at a time
};

}  // namespace hx
