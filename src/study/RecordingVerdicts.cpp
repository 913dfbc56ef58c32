#include "study/RecordingVerdicts.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "study/Csv.h"

namespace hx {

namespace {

// Whether what was read of the file at path still stands: the same file (not
// one renamed over it), no shorter than what was read, and a line end just
// before where reading stopped. When not, follow is set back to the start of
// the file now there. Returns the file's size, or -1 when it cannot be looked at.
off_t checkFollowed(const std::string& path, FollowedFile& follow) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    off_t size = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        size = st.st_size;
        char last = '\n';
        const bool same =
            follow.device == st.st_dev && follow.inode == st.st_ino &&
            follow.readTo <= static_cast<std::uint64_t>(size) &&
            (follow.readTo == 0 ||
             (::pread(fd, &last, 1, static_cast<off_t>(follow.readTo - 1)) == 1 && last == '\n'));
        if (!same) follow = {st.st_dev, st.st_ino, 0};
    }
    ::close(fd);
    return size;
}

}  // namespace

CRecordingVerdicts::CRecordingVerdicts(std::string folder) : m_folder(std::move(folder)) {}

void CRecordingVerdicts::forgetRows() {
    m_rows.clear();
    m_animals.clear();
    m_animalIndex.clear();
    m_lastRowOf.clear();
    m_judged.reset();
    m_log = {};
}

bool CRecordingVerdicts::takeNewRows(std::string& reason) {
    // A foreign results.csv appearing moves the log beside it.
    const std::string path = resultsLogPath(m_folder);
    if (path != m_logPath) {
        forgetRows();
        m_logPath = path;
    }
    const off_t size = checkFollowed(path, m_log);
    if (m_log.readTo == 0 && !m_rows.empty()) {
        const FollowedFile now = m_log;
        forgetRows();
        m_log = now;
    }
    if (size >= 0 && static_cast<std::uint64_t>(size) == m_log.readTo && size > 0) return true;
    auto since = readResultsLogSince(path, m_log.readTo, reason);
    if (!since) {
        forgetRows();
        return false;
    }
    if (since->restarted) {
        const FollowedFile now = m_log;
        forgetRows();
        m_log = now;
    }
    m_log.readTo = since->offset;
    for (std::size_t i = 0; i < since->rows.size(); ++i) {
        const ResultsLogRow& row = since->rows[i];
        if (!row.dataFile.empty()) m_lastRowOf[row.dataFile] = m_rows.size();
        const auto animal =
            m_animalIndex.try_emplace(row.animalNo, static_cast<std::uint32_t>(m_animals.size()));
        if (animal.second) m_animals.push_back(row.animalNo);
        m_rows.push_back({since->starts[i], row.deviceId, row.session, animal.first->second});
    }
    return true;
}

void CRecordingVerdicts::takeNewChanges() {
    const std::string path = joinFolder(m_folder, kReviewLogName);
    const off_t size = checkFollowed(path, m_review);
    if (size < 0) m_review = {};  // none (any more): no hand changes
    if (m_review.readTo == 0 && !m_latest.empty()) {
        m_latest.clear();
        ++m_changesSeen;
    }
    if (size <= 0 || static_cast<std::uint64_t>(size) == m_review.readTo) return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    // Under a shared lock: a change is appended in one write under an exclusive one, so
    // no change is seen half written (one with a line break in its reason spans lines).
    while (::flock(fd, LOCK_SH) != 0 && errno == EINTR) {
    }
    struct stat st {};
    std::string text;
    if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) > m_review.readTo) {
        text.resize(static_cast<std::size_t>(static_cast<std::uint64_t>(st.st_size) - m_review.readTo));
        const ssize_t n = ::pread(fd, text.data(), text.size(), static_cast<off_t>(m_review.readTo));
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    ::close(fd);
    // Whole lines only: a line left unfinished by a crash gets its line end with the next change.
    text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    if (text.empty()) return;
    std::string problem;
    // A file that is not a review log counts as no hand changes, and is looked at again next time.
    const bool fromStart = m_review.readTo == 0;
    const ReviewLog log = parseReviewLog(fromStart ? text : reviewLogHeader() + text, problem);
    if (!problem.empty()) return;
    for (const auto& change : log.changes) m_latest[change.cycle] = {change.newAccepted, change.reason};
    m_changesSeen += log.changes.size();
    m_review.readTo += text.size();
}

std::optional<RecordingVerdict> CRecordingVerdicts::verdict(const std::string& fileName,
                                                            const StudyRules& rules, std::string& reason) {
    // Twice at most: a log replaced between the look at it and the reading of a sitting is read again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!takeNewRows(reason)) return std::nullopt;
        takeNewChanges();
        const auto found = fileName.empty() ? m_lastRowOf.end() : m_lastRowOf.find(fileName);
        if (found == m_lastRowOf.end()) {
            reason = "no row of the results log names " + fileName;
            return std::nullopt;
        }
        if (auto judged = judge(found->second, rules, reason)) return judged;
        forgetRows();
    }
    return std::nullopt;
}

std::optional<RecordingVerdict> CRecordingVerdicts::judge(std::size_t k, const StudyRules& rules,
                                                          std::string& reason) {
    // The row's sitting: the run of its unit's rows with its session and
    // animal numbers; other units' rows in between do not end it.
    const RowPlace& row = m_rows[k];
    const auto sameUnit = [&](const RowPlace& r) { return r.deviceId == row.deviceId; };
    const auto sameSitting = [&](const RowPlace& r) {
        return r.session == row.session && r.animal == row.animal;
    };
    std::vector<std::size_t> sitting;
    for (std::size_t i = k; i-- > 0;) {
        if (!sameUnit(m_rows[i])) continue;
        if (!sameSitting(m_rows[i])) break;
        sitting.push_back(i);
    }
    std::reverse(sitting.begin(), sitting.end());
    const std::size_t position = sitting.size();
    sitting.push_back(k);
    for (std::size_t i = k + 1; i < m_rows.size(); ++i) {
        if (!sameUnit(m_rows[i])) continue;
        if (!sameSitting(m_rows[i])) break;
        sitting.push_back(i);
    }
    if (!m_judged || m_judged->indexes != sitting) {
        std::vector<ResultsLogRow> rows;
        if (!readBack(sitting, rows, reason)) return std::nullopt;
        m_judged = JudgedSitting{sitting, std::move(rows), 0, {}, {}};
    }
    const std::vector<ResultsLogRow>& rows = m_judged->rows;
    std::string problem;
    const auto species = readAnimals(m_folder, problem).species();
    const auto named = species.find(rows[position].animalNo);
    const SessionSettings cycleRules =
        cycleRulesFor(rules, named != species.end() ? named->second : std::string());
    if (m_judged->verdicts.empty() || m_judged->changesSeen != m_changesSeen ||
        !(m_judged->cycleRules == cycleRules)) {
        // The hand changes of its cycles.
        std::vector<ReviewChange> hand;
        hand.reserve(rows.size());
        std::map<CycleKey, const ReviewChange*> latest;
        for (const auto& r : rows) {
            const auto it = m_latest.find(cycleKeyOf(r));
            if (it == m_latest.end()) continue;
            ReviewChange& change = hand.emplace_back();
            change.newAccepted = it->second.accepted;
            change.reason = it->second.reason;
            latest[it->first] = &change;
        }
        std::vector<std::size_t> indexes(rows.size());
        for (std::size_t i = 0; i < indexes.size(); ++i) indexes[i] = i;
        m_judged->verdicts = computeSessionStats(reviewedCycles(rows, indexes, latest), cycleRules).verdicts;
        m_judged->changesSeen = m_changesSeen;
        m_judged->cycleRules = cycleRules;
    }
    return RecordingVerdict{cycleKeyOf(rows[position]), m_judged->verdicts[position]};
}

// The rows of a sitting read back from the log: the stretch from its first row to the end of its last.
bool CRecordingVerdicts::readBack(const std::vector<std::size_t>& sitting, std::vector<ResultsLogRow>& rows,
                                  std::string& reason) const {
    const RowPlace& row = m_rows[sitting.front()];
    const std::size_t last = sitting.back();
    const std::uint64_t until = last + 1 < m_rows.size() ? m_rows[last + 1].start : m_log.readTo;
    auto stretch = readResultsLogSince(m_logPath, row.start, reason, until);
    if (!stretch || stretch->restarted) return false;
    std::size_t next = 0;
    for (std::size_t i = 0; i < stretch->rows.size() && next < sitting.size(); ++i) {
        if (stretch->starts[i] != m_rows[sitting[next]].start) continue;
        const ResultsLogRow& r = stretch->rows[i];
        if (r.deviceId != row.deviceId || r.session != row.session || r.animalNo != m_animals[row.animal])
            break;
        rows.push_back(std::move(stretch->rows[i]));
        ++next;
    }
    if (rows.size() == sitting.size()) return true;
    reason = "the results log changed while it was read";
    return false;
}

std::string CRecordingVerdicts::changeVerdict(const std::string& fileName, const StudyRules& rules,
                                              const std::string& reason) {
    std::string problem;
    const auto now = verdict(fileName, rules, problem);
    if (!now) return problem;
    ReviewChange change;
    change.cycle = now->cycle;
    change.oldAccepted = now->verdict.status == CycleStatus::Accepted;
    change.newAccepted = !change.oldAccepted;
    change.reason = reason;
    return appendReviewChange(m_folder, change);
}

}  // namespace hx
