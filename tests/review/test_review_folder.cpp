// Stepping through a folder of recordings with the order kept between steps:
// the order by time then name, refused files passed over, the ends, and a
// folder that changes while it is reviewed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "review/CRecordingFolder.h"
#include "support/DataFileFixture.h"
#include "support/TempDir.h"

namespace hx::test {
namespace {

namespace fs = std::filesystem;

class RecordingFolder : public ::testing::Test {
  protected:
    RecordingFolder() {
        const DataFileFixture data;
        const auto bytes = buildDataFileBytes(data.request);
        m_bytes.assign(bytes.begin(), bytes.end());
    }
    // A data file written `minute` minutes after the first (cut short by `cut` bytes).
    std::string write(const std::string& name, int minute, std::size_t cut = 0) {
        const fs::path path = m_dir.path() / name;
        std::ofstream(path, std::ios::binary) << m_bytes.substr(0, m_bytes.size() - cut);
        fs::last_write_time(path, m_start + std::chrono::minutes(minute));
        return path.string();
    }
    // The folder's own time put an hour back, as if nothing had changed in it lately.
    void settle() {
        const timespec past[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        ::utimensat(AT_FDCWD, m_dir.path().c_str(), past, 0);
    }
    std::string next(const std::string& from, int step) {
        const auto review = m_folder.step(from, step);
        return review ? review->path() : std::string();
    }

    TempDir m_dir;
    std::string m_bytes;
    fs::file_time_type m_start = fs::file_time_type::clock::now() - std::chrono::hours(24);
    CRecordingFolder m_folder;
};

TEST_F(RecordingFolder, StepsByTimeThenNamePassOverRefusedFilesAndStopAtTheEnds) {
    const std::string later = write("A_later.001", 2);  // named to sort first, written last
    const std::string first = write("B1.001", 0);
    const std::string same = write("B2.001", 1), sameTime = write("B0.001", 1);
    write("B9.001", 1, 7);  // cut short: refused
    std::ofstream(m_dir.path() / "notes.txt") << "not a recording\n";
    settle();
    EXPECT_EQ(next(first, +1), sameTime);
    EXPECT_EQ(next(sameTime, +1), same);
    EXPECT_EQ(next(same, +1), later);
    EXPECT_EQ(next(later, +1), "");
    EXPECT_EQ(next(later, -1), same);
    EXPECT_EQ(next(first, -1), "");
    EXPECT_EQ(next((m_dir.path() / "gone.001").string(), +1), "");
}

TEST_F(RecordingFolder, ARecordingSavedOrMendedWhileReviewingShowsAtTheNextStep) {
    const std::string first = write("B1.001", 0);
    const std::string damaged = write("B2.001", 1, 7);
    const std::string last = write("B3.001", 2);
    settle();
    EXPECT_EQ(next(first, +1), last);
    EXPECT_EQ(next(last, +1), "");
    // Saved since the last step, and another one renamed over an older name.
    const std::string saved = write("B4.001", 3);
    EXPECT_EQ(next(last, +1), saved);
    settle();
    write("B0.tmp", 4);
    fs::rename(m_dir.path() / "B0.tmp", m_dir.path() / "B1.001");
    EXPECT_EQ(next(saved, +1), first);
    EXPECT_EQ(next(last, -1), "");
    // The refused file mended in place (the folder itself unchanged) is read again.
    settle();
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << m_bytes;
    fs::last_write_time(damaged, m_start + std::chrono::minutes(1));
    settle();
    EXPECT_EQ(next(last, -1), damaged);
}

}  // namespace
}  // namespace hx::test
