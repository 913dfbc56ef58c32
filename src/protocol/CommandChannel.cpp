#include "protocol/CommandChannel.h"

#include <algorithm>
#include <cstring>

namespace hx {

// --- frames ------------------------------------------------------------------

ClockFrame makeClockFrame(int year, int month, int day, int weekday, int hour, int minute, int second) {
    auto byte = [](int value) { return static_cast<std::uint8_t>(value & 0xFF); };
    // year + 48 keeps the low 8 bits of year - 2000 (2000 + 48 = 0x800).
    return {byte(year + 48), byte(month),  byte(day),    byte(weekday),
            byte(hour),      byte(minute), byte(second), 0};
}

ClockFrame makeClockFrame(const std::tm& time) {
    return makeClockFrame(time.tm_year + 1900, time.tm_mon + 1, time.tm_mday, time.tm_wday + 1, time.tm_hour,
                          time.tm_min, time.tm_sec);
}

std::optional<UnitClock> parseClockReply(const std::uint8_t* reply, std::size_t length) {
    if (reply == nullptr || length < 7) return std::nullopt;
    auto bcd = [&](std::size_t at) {
        return static_cast<std::int16_t>((reply[at] >> 4) * 10 + (reply[at] & 0x0F));
    };
    UnitClock time;
    time.year = static_cast<std::int16_t>(2000 + bcd(6));
    time.month = bcd(5);
    time.day = bcd(4);
    time.hour = bcd(2);
    time.minute = bcd(1);
    time.second = bcd(0);
    return time;
}

namespace {

// Flag bits of menu byte 3 and the words they carry.
constexpr struct {
    int word;
    std::uint8_t bit;
} kMenuFlags[] = {
    {MenuSettings::kAutoP, 0x01}, {MenuSettings::kDbp, 0x02},   {MenuSettings::kUsb, 0x04},
    {MenuSettings::kPrint, 0x08}, {MenuSettings::kSound, 0x10}, {MenuSettings::kTime, 0x20},
};

std::uint8_t low8(std::int16_t word) { return static_cast<std::uint8_t>(word & 0xFF); }

}  // namespace

MenuFrame makeMenuFrame(const MenuSettings& menu) {
    MenuFrame frame{};
    frame[0] = low8(menu[MenuSettings::kPress]);
    frame[1] = low8(menu[MenuSettings::kSense]);
    frame[2] = low8(menu[MenuSettings::kAutoS]);
    for (const auto& flag : kMenuFlags) {
        if (menu[flag.word] != 0) frame[3] = static_cast<std::uint8_t>(frame[3] | flag.bit);
    }
    frame[4] = low8(menu[MenuSettings::kSpeed]);
    frame[5] = low8(menu[MenuSettings::kType]);
    frame[6] = low8(menu[MenuSettings::kWord10]);
    return frame;
}

MenuSettings parseMenuFrame(const MenuFrame& frame) {
    MenuSettings menu;
    menu[MenuSettings::kPress] = frame[0];
    menu[MenuSettings::kSense] = frame[1];
    menu[MenuSettings::kAutoS] = frame[2];
    for (const auto& flag : kMenuFlags) menu[flag.word] = (frame[3] & flag.bit) != 0 ? 1 : 0;
    menu[MenuSettings::kSpeed] = frame[4];
    menu[MenuSettings::kType] = frame[5];
    menu[MenuSettings::kWord10] = frame[6];
    return menu;
}

OutboundFrame makePcVersionFrame(std::string_view text) {
    OutboundFrame frame{};
    frame[0] = kPcVersionMark;
    std::size_t count = std::min(text.size(), kFrameSize - 1);
    std::memcpy(&frame[1], text.data(), count);
    return frame;
}

std::array<std::uint8_t, 8> animalRequestData() { return {0, 0, 7, 7, 7, 7, 7, 0}; }

std::string commandLogLine(int code) {
    switch (code) {
        case CR_MENU_USB:
            return "Pc->sendCMD: CR_MENU_USB";
        case CR_TIME_USB:
            return "Pc->sendCMD: CR_TIME_USB";
        case CR_WAIT_USB:
            return "Pc->sendCMD: CR_WAIT_USB";
        case CR_VIEW:
            return "Pc->sendCMD: CR_VIEW";
        case CR_IDLE:
            return "Pc->sendCMD: CR_IDLE";
        case CR_RESTARTVIEW:
            return "Pc->sendCMD: CR_RESTARTVIEW";
        default:
            return "Pc->sendCMD: " + std::to_string(code);
    }
}

// --- the channel -------------------------------------------------------------

CCommandChannel::CCommandChannel(CTransport& transport, IClock& clock)
    : m_transport(transport), m_clock(clock) {
    m_transport.initTransport();
}

CCommandChannel::CCommandChannel(IUnitDriver& driver, IClock& clock)
    : m_ownTransport(std::make_unique<CTransport>(driver)), m_transport(*m_ownTransport), m_clock(clock) {
    m_transport.initTransport();
}

CCommandChannel::~CCommandChannel() {
    IUnitDriver& driver = m_transport.driver();
    if (m_hInPip != kInvalidHandle) driver.close(m_hInPip);
    if (m_hOutPip != kInvalidHandle) driver.close(m_hOutPip);
    m_transport.closeUnit(m_deviceSlot);
    m_transport.closeAllUnits();
}

LinkError CCommandChannel::ResetPipe(std::uint16_t productId) {
    LinkResult<int> slot = m_transport.openUnit(kMatchProduct, 0, 0, 0, productId, 0);
    m_deviceSlot = slot.value;
    if (!slot.ok()) return slot.error;
    if (LinkError error = m_transport.unitCheck(m_deviceSlot); error != LinkError::None) return error;
    LinkResult<DriverHandle> in = m_transport.openPipe(m_deviceSlot, 0, 0, true);
    LinkResult<DriverHandle> out = m_transport.openPipe(m_deviceSlot, 0, 1, false);
    m_hInPip = in.ok() ? in.value : kInvalidHandle;
    m_hOutPip = out.ok() ? out.value : kInvalidHandle;
    if (!in.ok()) return in.error;
    if (!out.ok()) return out.error;
    m_transport.resetPipeHandle(m_hInPip);
    m_transport.resetPipeHandle(m_hOutPip);
    writeLinkLinef(m_log, "ResetPipe: initialize m_hInPip:0x%Xd", static_cast<unsigned>(m_hInPip));
    return LinkError::None;
}

std::size_t CCommandChannel::control(int direction, std::uint8_t request, std::uint16_t value,
                                     std::size_t length, std::uint8_t* buffer) {
    std::lock_guard lock(m_controlLock);
    return m_transport.controlRequest(m_deviceSlot, direction, 0, request, value, 0, length, buffer);
}

bool CCommandChannel::sendCMD(int code) {
    if (m_transport.unitCheck(m_deviceSlot) != LinkError::None) return false;
    bool sent = control(kDirectionOut, kRequestCommand, static_cast<std::uint16_t>(code), 0, nullptr) != 0;
    writeLinkLine(m_log, commandLogLine(code));
    return sent;
}

int CCommandChannel::getState() {
    std::uint8_t state = 0;
    if (control(kDirectionIn, kRequestGetState, 0, 1, &state) == 0) return -1;
    return static_cast<std::int8_t>(state);
}

bool CCommandChannel::getTime(UnitClock& time) {
    std::array<std::uint8_t, 8> reply{};
    std::size_t received = control(kDirectionIn, kRequestGetTime, 0, reply.size(), reply.data());
    std::optional<UnitClock> parsed = parseClockReply(reply.data(), received);
    if (!parsed) return false;
    time = *parsed;
    return true;
}

bool CCommandChannel::setTime(const ClockFrame& frame) {
    ClockFrame data = frame;
    return control(kDirectionOut, kRequestSetTime, 0, data.size(), data.data()) != 0;
}

bool CCommandChannel::getMenu(MenuSettings& menu) {
    MenuFrame frame{};
    std::size_t received = control(kDirectionIn, kRequestGetMenu, 0, frame.size(), frame.data());
    writeLinkLine(m_log, "Pc->getMenu");
    // A short reply would fill words from bytes the unit never sent.
    if (received < frame.size()) return false;
    menu = parseMenuFrame(frame);
    return true;
}

bool CCommandChannel::sendMenu(const MenuSettings& menu) {
    MenuFrame frame = makeMenuFrame(menu);
    return control(kDirectionOut, kRequestSendMenu, 0, frame.size(), frame.data()) != 0;
}

bool CCommandChannel::getAnimalInfo() {
    auto data = animalRequestData();
    bool sent = control(kDirectionOut, kRequestGetAnimalInfo, 0, data.size(), data.data()) != 0;
    writeLinkLine(m_log, "Pc->getAnimalInfo");
    return sent;
}

bool CCommandChannel::getDeviceVer() {
    bool sent = control(kDirectionOut, kRequestGetDeviceVer, 0, 0, nullptr) != 0;
    writeLinkLine(m_log, "Pc->getDeviceVer");
    return sent;
}

bool CCommandChannel::sendAnimalInfo(const std::uint8_t* block) {
    bool written = block != nullptr && m_hOutPip != kInvalidHandle &&
                   m_transport.driver().writePipe(m_hOutPip, block, kFrameSize) == LinkError::None;
    writeLinkLine(m_log, "Pc->sendAnimalInfo");
    return written;
}

bool CCommandChannel::sendPcVer(std::string_view text) {
    OutboundFrame frame = makePcVersionFrame(text);
    bool written = m_hOutPip != kInvalidHandle &&
                   m_transport.driver().writePipe(m_hOutPip, frame.data(), frame.size()) == LinkError::None;
    // The frame as text, up to its first 0 byte and never past its 64 bytes.
    const char* chars = reinterpret_cast<const char*>(frame.data());
    std::string asText(chars, strnlen(chars, frame.size()));
    writeLinkLine(m_log, "Pc->sendPcVer:" + asText);
    return written;
}

RecordRead CCommandChannel::readRecord(std::uint8_t* buffer, std::size_t length) {
    if (m_hInPip == kInvalidHandle || buffer == nullptr) return {0, LinkError::UnitGone, false};
    return recover(m_transport.driver().readPipe(m_hInPip, buffer, length), length);
}

bool CCommandChannel::readsWithoutWaiting() const { return m_transport.driver().readsWithoutWaiting(); }

RecordRead CCommandChannel::readRecordNow(std::uint8_t* buffer, std::size_t length) {
    if (m_hInPip == kInvalidHandle || buffer == nullptr) return {0, LinkError::UnitGone, false};
    return recover(m_transport.driver().readPipeNow(m_hInPip, buffer, length), length);
}

RecordRead CCommandChannel::recover(const PipeReadResult& read, std::size_t length) {
    const unsigned handle = static_cast<unsigned>(m_hInPip);
    // A failed unit, or one that vanished under the read, is reset; one that
    // cannot be reset is lost. Without a removal notice the program would
    // otherwise read a dead pipe for ever.
    auto resetUnit = [&] {
        const LinkError reset = m_transport.resetUnit(m_deviceSlot);
        return reset == LinkError::None ? RecordRead{0, read.error, false} : RecordRead{0, reset, true};
    };
    switch (read.error) {
        case LinkError::None:
            return {std::min(read.bytes, length), LinkError::None, false};
        case LinkError::Protocol:
            // A stalled pipe stays stalled until it is reset, however the read
            // came to fail, so it is reset in both cases.
            m_transport.resetPipeHandle(m_hInPip);
            writeLinkLinef(m_log, "ResetInPipe: ERROR_BROKEN_PIPE m_hInPip:0x%Xd", handle);
            return {0, read.error, false};
        case LinkError::Io:
            if (read.waited) {
                writeLinkLinef(m_log, "ResetDevice: ERROR_IO_PENDING m_hInPip:0x%Xd", handle);
            } else {
                writeLinkLinef(m_log, "ResetDevice: ERROR_IO_DEVICE m_hInPip:0x%Xd", handle);
            }
            return resetUnit();
        case LinkError::UnitGone:
            return resetUnit();
        default:
            // Cancelled or anything else: no record this time.
            return {0, read.error, false};
    }
}

void CCommandChannel::cancelRead() {
    if (m_hInPip != kInvalidHandle) m_transport.driver().cancelRead(m_hInPip);
}

}  // namespace hx
