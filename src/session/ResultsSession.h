#pragma once
// CResultsSession: the program's side of the results log. It appends each
// handled result to the data folder's log and keeps the rows of the current
// session of this program's unit, rebuilt from the log when the program
// starts or the folder or unit changes, so a session survives a restart.
// A session ends when the animal number changes or the user starts a new one.
// UI thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/ResultsLog.h"
#include "session/SessionStats.h"

namespace hx {

class CResultsSession {
  public:
    // Rebuilds the current session of deviceId from folder's log (nothing when
    // there is no log or it is unreadable; the next row then starts a session).
    void load(const std::string& folder, int deviceId);
    // load() unless folder and device are the ones already loaded.
    void follow(const std::string& folder, int deviceId);

    // Numbers the row's session (a new one when the animal number changed or a
    // new session was asked for), keeps it and appends it to folder's log.
    // Returns "" or why the log could not be written; the row is kept either way.
    std::string record(const std::string& folder, ResultsLogRow row);

    // Once per run, after record(): the notice that results.csv was someone
    // else's file and the rows go beside it; "" otherwise.
    std::string takeNotice();

    // The next result begins a new session; the current one is shown empty.
    void startNewSession();

    // A front end that shows no statistics keeps only the newest row (whose
    // animal number decides where the session ends), so a long run does not
    // grow with its results. Rows are kept by default.
    void setKeepRows(bool keep);

    const std::vector<ResultsLogRow>& rows() const { return m_rows; }
    int sessionNumber() const { return m_session; }
    // The data folder and device ID (as shown, 1 to 16) the session follows.
    const std::string& folder() const { return m_folder; }
    int deviceId() const { return m_deviceId; }
    SessionStats stats(const SessionSettings& settings) const;

    // Called after every change (a row, a new session, a reload).
    void setListener(std::function<void()> listener) { m_listener = std::move(listener); }

  private:
    void changed() {
        if (!m_keepRows && m_rows.size() > 1) m_rows.erase(m_rows.begin(), m_rows.end() - 1);
        if (m_listener) m_listener();
    }

    static constexpr std::uint64_t kSessionSearchBytes = 64ull << 20;

    std::string m_folder;
    int m_deviceId = -1;
    bool m_loaded = false;
    int m_session = 0;     // of m_rows; 0 before any
    int m_maxSession = 0;  // highest number in the log, any unit
    bool m_newRequested = false;
    bool m_keepRows = true;
    std::vector<ResultsLogRow> m_rows;
    std::function<void()> m_listener;
    bool m_besideNoticeGiven = false;
    std::string m_notice;
};

}  // namespace hx
