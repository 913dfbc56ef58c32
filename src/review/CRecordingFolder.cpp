#include "review/CRecordingFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "data/DataFileWriter.h"

namespace hx {

namespace {

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// A folder whose time is this close to now may still gain a file within the same clock tick.
constexpr time_t kSettleSeconds = 2;

}  // namespace

bool CRecordingFolder::before(const Entry& a, const Entry& b) {
    if (!sameTime(a.time, b.time))
        return a.time.tv_sec != b.time.tv_sec ? a.time.tv_sec < b.time.tv_sec
                                              : a.time.tv_nsec < b.time.tv_nsec;
    return a.name < b.name;
}

void CRecordingFolder::refresh(const std::string& folder, bool full) {
    struct stat st {};
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 || ::fstat(dirFd, &st) != 0) {
        if (dirFd >= 0) ::close(dirFd);
        m_entries.clear();
        m_index.clear();
        m_recheck = true;
        return;
    }
    if (!full && !m_recheck && st.st_ino == m_folderInode && sameTime(st.st_mtim, m_folderTime)) {
        ::close(dirFd);
        return;
    }
    m_folderInode = st.st_ino;
    m_folderTime = st.st_mtim;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    m_recheck = now.tv_sec - st.st_mtim.tv_sec < kSettleSeconds;

    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        m_entries.clear();
        m_index.clear();
        return;
    }
    std::vector<Entry> entries;
    entries.reserve(m_entries.size() + 16);
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_type == DT_DIR) continue;
        const std::string name = d->d_name;
        if (!full) {
            const auto known = m_index.find(name);
            if (known != m_index.end() && m_entries[known->second].inode == d->d_ino) {
                entries.push_back(std::move(m_entries[known->second]));
                continue;
            }
        }
        // Only files that can be data files by their size are worth reading (a link counts as its target).
        struct stat file {};
        if (::fstatat(dirFd, d->d_name, &file, 0) != 0 || !S_ISREG(file.st_mode)) continue;
        if (file.st_size < static_cast<off_t>(kDataFileHeaderSize) ||
            file.st_size > static_cast<off_t>(kMaxDataFileSize))
            continue;
        entries.push_back({file.st_mtim, name, d->d_ino, file.st_size, false});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), before);
    m_entries = std::move(entries);
    m_index.clear();
    m_index.reserve(m_entries.size());
    for (std::size_t i = 0; i < m_entries.size(); ++i) m_index.emplace(m_entries[i].name, i);
}

std::unique_ptr<CRecordingReview> CRecordingFolder::walk(const std::string& folder, const std::string& name,
                                                         int step, bool& stale) {
    const auto found = m_index.find(name);
    if (found == m_index.end() || step == 0) return nullptr;
    const auto count = static_cast<std::ptrdiff_t>(m_entries.size());
    for (auto index = static_cast<std::ptrdiff_t>(found->second) + step; index >= 0 && index < count;
         index += step) {
        Entry& entry = m_entries[static_cast<std::size_t>(index)];
        const std::string candidate = (std::filesystem::path(folder) / entry.name).string();
        // A file changed in place since it was listed (same folder time) may have moved in the order.
        struct stat st {};
        if (::stat(candidate.c_str(), &st) != 0 || !sameTime(st.st_mtim, entry.time) ||
            st.st_size != entry.size) {
            stale = true;
            return nullptr;
        }
        if (entry.refused) continue;
        DataFileParse parse = readDataFile(candidate);
        if (parse.ok) return CRecordingReview::fromContents(candidate, std::move(parse.contents));
        entry.refused = true;
    }
    return nullptr;
}

std::unique_ptr<CRecordingReview> CRecordingFolder::step(const std::string& path, int step) {
    const std::filesystem::path current(path);
    const std::string folder = current.parent_path().empty() ? "." : current.parent_path().string();
    if (folder != m_folder) {
        m_folder = folder;
        m_entries.clear();
        m_index.clear();
        m_recheck = true;
    }
    refresh(folder, false);
    bool stale = false;
    auto review = walk(folder, current.filename().string(), step, stale);
    if (!stale) return review;
    refresh(folder, true);
    return walk(folder, current.filename().string(), step, stale);
}

}  // namespace hx
