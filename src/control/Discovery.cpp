// Keeping the document's device-ID list in step with the attached units.

#include <algorithm>
#include <exception>

#include "app/LogChannel.h"
#include "control/DisplayTexts.h"
#include "control/MainController.h"
#include "usb/DeviceDiscovery.h"

namespace hx {

namespace {
int countOf(const std::vector<std::int16_t>& ids, std::int16_t id) {
    return static_cast<int>(std::count(ids.begin(), ids.end(), id));
}
int countOf(const std::list<std::int16_t>& ids, std::int16_t id) {
    return static_cast<int>(std::count(ids.begin(), ids.end(), id));
}
}  // namespace

void CMainController::showDuplicateIds() { keepErrorPane(errorPaneText(130)); }

int CMainController::enumerateUnits(DiscoveryMode mode, int deviceId, bool selectOnGrowthOnly) {
    const std::size_t listedBefore = m_doc.deviceIds().size();
    std::vector<std::int16_t> found = findUnitIds(m_driver);
    const auto id = static_cast<std::int16_t>(deviceId);
    switch (mode) {
        case kDiscoverInitial:
            m_doc.clearDeviceIds();
            for (std::int16_t f : found) {
                if (countOf(found, f) == 1) {
                    m_doc.addDeviceId(f);
                } else {
                    showDuplicateIds();
                }
            }
            break;
        case kDiscoverArrival:
            if (countOf(found, id) == 1) m_doc.addDeviceId(id);
            break;
        case kDiscoverRemoval:
            m_doc.removeDeviceId(id);
            if (id == m_doc.deviceId()) closeConnectionAfterRemoval();
            break;
        case kDiscoverRecheck: {
            for (std::int16_t f : found) {
                if (countOf(m_doc.deviceIds(), f) < 1) {
                    if (countOf(found, f) == 1) {
                        m_doc.addDeviceId(f);
                    } else {
                        showDuplicateIds();
                    }
                } else if (countOf(found, f) > 1) {
                    showDuplicateIds();
                }
            }
            std::list<std::int16_t> copy = m_doc.deviceIds();
            for (std::int16_t listed : copy) {
                if (countOf(found, listed) != 0) continue;
                m_doc.removeDeviceId(listed);
                // The served unit vanished: as if its removal had been noticed.
                if (listed == m_doc.deviceId() && m_opened) closeConnectionAfterRemoval();
            }
            break;
        }
        default:
            break;
    }
    const bool grew = m_doc.deviceIds().size() > listedBefore;
    if (!m_channel && !found.empty() && (!selectOnGrowthOnly || grew)) selectUnit();
    return static_cast<int>(found.size());
}

void CMainController::recheckUnits() {
    try {
        enumerateUnits(kDiscoverRecheck, 0, true);
    } catch (const std::exception&) {
        writeLogLine("USB Message exception!!", 'E', 'P');
    }
}

void CMainController::onDeviceChange(std::uintptr_t event, const std::string& path) {
    try {
        std::int16_t id = deviceIdFromPath(path);
        if (event == DBT_DEVICEARRIVAL) {
            enumerateUnits(kDiscoverArrival, id);
            writeLogLinef('N', 'S', "DBT_DEVICEARRIVAL devId:%d", id);
        } else if (event == DBT_DEVICEREMOVECOMPLETE) {
            enumerateUnits(kDiscoverRemoval, id);
            writeLogLinef('N', 'S', "DBT_DEVICEREMOVERCOMPLETE: devId:%d", id);
        }
    } catch (const std::exception&) {
        writeLogLine("USB Message exception!!", 'E', 'P');
    }
    if (!m_noticesRegistered) {
        try {
            enumerateUnits(kDiscoverRecheck, 0);
        } catch (const std::exception&) {
            writeLogLine("USB Message exception!!", 'E', 'P');
        }
    }
}

void CMainController::onEnumDevice() {
    try {
        enumerateUnits(kDiscoverInitial, 0);
        writeLogLinef('N', 'S', "WM_ENUM_DEVICE: eunmdev:%d", 0);
    } catch (const std::exception&) {
        writeLogLine("USB Message exception!!", 'E', 'P');
    }
}

}  // namespace hx
