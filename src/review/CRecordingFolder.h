#pragma once
// The data files of the folder under review in the review's order (last write
// time, then name), kept between steps so that Page Up and Page Down cost the
// file they open rather than a listing of the whole folder. The listing is
// taken again when the folder changed (its modification time: a file saved,
// renamed or removed); files already known by name and inode keep the times
// looked up before, so only new files are looked at. A folder changed within
// the last moments is listed again at the next step too, since its time can
// miss a file saved in the same clock tick. Files the reader refused are
// remembered, and read again only once they change.
//
// One thread at a time.

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "review/CRecordingReview.h"

namespace hx {

class CRecordingFolder {
  public:
    // The review of the data file next to path in its folder: step -1 the one
    // before, +1 the one after. Files the reader refuses are passed over. Null
    // when there is none in that direction (or path is not among the folder's files).
    std::unique_ptr<CRecordingReview> step(const std::string& path, int step);

  private:
    struct Entry {
        timespec time{};
        std::string name;
        ino_t inode = 0;
        off_t size = 0;
        bool refused = false;  // the reader refused the file as it was then
    };
    static bool before(const Entry& a, const Entry& b);
    // Brings the listing of folder up to date; every file looked at again when full.
    void refresh(const std::string& folder, bool full);
    std::unique_ptr<CRecordingReview> walk(const std::string& folder, const std::string& name, int step,
                                           bool& stale);

    std::string m_folder;
    timespec m_folderTime{};
    ino_t m_folderInode = 0;
    bool m_recheck = true;                                 // list again at the next step
    std::vector<Entry> m_entries;                          // in the review's order
    std::unordered_map<std::string, std::size_t> m_index;  // name -> place in m_entries
};

}  // namespace hx
