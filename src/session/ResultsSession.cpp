#include "session/ResultsSession.h"

#include <algorithm>

namespace hx {

void CResultsSession::load(const std::string& folder, int deviceId) {
    m_folder = folder;
    m_deviceId = deviceId;
    m_loaded = true;
    m_rows.clear();
    m_session = 0;
    m_maxSession = 0;
    m_newRequested = false;
    std::string reason;
    if (auto log = readResultsLog(resultsLogPath(folder), reason)) {
        for (const auto& r : log->rows) m_maxSession = std::max(m_maxSession, r.session);
        const auto sessions = splitSessions(log->rows);
        for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) {
            if (it->deviceId != deviceId) continue;
            m_session = it->session;
            for (std::size_t i : it->rows) m_rows.push_back(log->rows[i]);
            break;
        }
    }
    changed();
}

void CResultsSession::follow(const std::string& folder, int deviceId) {
    if (!m_loaded || folder != m_folder || deviceId != m_deviceId) load(folder, deviceId);
}

std::string CResultsSession::record(const std::string& folder, ResultsLogRow row) {
    follow(folder, row.deviceId);
    if (m_newRequested || m_session == 0 || (!m_rows.empty() && m_rows.back().animalNo != row.animalNo)) {
        m_session = ++m_maxSession;
        m_rows.clear();
        m_newRequested = false;
    }
    row.session = m_session;
    std::string error = appendResultsLog(folder, row);
    m_rows.push_back(std::move(row));
    changed();
    return error;
}

void CResultsSession::startNewSession() {
    m_newRequested = true;
    m_rows.clear();
    changed();
}

SessionStats CResultsSession::stats(const SessionSettings& settings) const {
    std::vector<SessionCycle> cycles;
    cycles.reserve(m_rows.size());
    for (const auto& r : m_rows) cycles.push_back(cycleFromLogRow(r));
    return computeSessionStats(std::move(cycles), settings);
}

}  // namespace hx
