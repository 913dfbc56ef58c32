#include "session/ResultsSession.h"

#include <algorithm>
#include <utility>

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
    // From the end of the log: what a session needs is there, however long
    // the log has grown. A unit whose last session lies further back than
    // the bound starts a new one.
    auto log = readNewestSession(
        resultsLogPath(folder), reason, [deviceId](const ResultsLogRow& r) { return r.deviceId == deviceId; },
        kSessionSearchBytes);
    if (log) {
        m_maxSession = log->maxSession;
        if (!log->rows.empty()) m_session = log->rows.front().session;
        m_rows = std::move(log->rows);
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
    if (error.empty() && !m_besideNoticeGiven && resultsLogBesideForeignFile(folder)) {
        m_besideNoticeGiven = true;
        m_notice = "The file " + std::string(kResultsLogName) + " in " + folder +
                   " is not this program's results log; it is left as it is and the results are logged in " +
                   resultsLogPath(folder) + ".";
    }
    m_rows.push_back(std::move(row));
    changed();
    return error;
}

void CResultsSession::setKeepRows(bool keep) {
    m_keepRows = keep;
    changed();
}

std::string CResultsSession::takeNotice() { return std::exchange(m_notice, {}); }

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
