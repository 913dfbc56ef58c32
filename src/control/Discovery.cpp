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

void CMainController::showDuplicateIds() { m_ui.statusBar().setErrorPane(errorPaneText(130)); }

int CMainController::enumerateUnits(int mode, int deviceId) {
    std::vector<std::int16_t> found = findUnitIds(m_driver);
    const auto id = static_cast<std::int16_t>(deviceId);
    switch (mode) {
        case 0:
            m_doc.clearDeviceIds();
            for (std::int16_t f : found) {
                if (countOf(found, f) == 1) {
                    m_doc.addDeviceId(f);
                } else {
                    showDuplicateIds();
                }
            }
            break;
        case 1:
            if (countOf(found, id) == 1) m_doc.addDeviceId(id);
            break;
        case 2:
            m_doc.removeDeviceId(id);
            if (id == m_doc.deviceId()) closeConnectionAfterRemoval();
            break;
        case 3: {
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
            for (std::int16_t listed : copy)
                if (countOf(found, listed) == 0) m_doc.removeDeviceId(listed);
            break;
        }
        default: break;
    }
    if (!m_channel && !found.empty()) selectUnit();
    return static_cast<int>(found.size());
}

void CMainController::onDeviceChange(std::uintptr_t event, const std::string& path) {
    try {
        std::int16_t id = deviceIdFromPath(path);
        if (event == DBT_DEVICEARRIVAL) {
            enumerateUnits(1, id);
            writeLogLinef('N', 'S', "DBT_DEVICEARRIVAL devId:%d", id);
        } else if (event == DBT_DEVICEREMOVECOMPLETE) {
            enumerateUnits(2, id);
            writeLogLinef('N', 'S', "DBT_DEVICEREMOVERCOMPLETE: devId:%d", id);
        }
    } catch (const std::exception&) {
        writeLogLine("USB Message exception!!", 'E', 'P');
    }
    if (!m_noticesRegistered) {
        try {
            enumerateUnits(3, 0);
        } catch (const std::exception&) {
            writeLogLine("USB Message exception!!", 'E', 'P');
        }
    }
}

void CMainController::onEnumDevice() {
    try {
        enumerateUnits(0, 0);
        writeLogLinef('N', 'S', "WM_ENUM_DEVICE: eunmdev:%d", 0);
    } catch (const std::exception&) {
        writeLogLine("USB Message exception!!", 'E', 'P');
    }
}

}  // namespace hx
