#include "review/CRecordingReview.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "data/DataFileWriter.h"

namespace hx {

namespace fs = std::filesystem;

std::variant<std::unique_ptr<CRecordingReview>, std::string> CRecordingReview::open(const std::string& path) {
    DataFileParse parse = readDataFile(path);
    if (!parse.ok) return parse.error;
    return fromContents(path, std::move(parse.contents));
}

std::unique_ptr<CRecordingReview> CRecordingReview::fromContents(std::string path,
                                                                 DataFileContents contents) {
    std::unique_ptr<CRecordingReview> review(new CRecordingReview());
    review->m_path = std::move(path);
    review->m_contents = std::move(contents);
    const DataFileContents& c = review->m_contents;
    MeasurementResult& r = review->m_result;
    r.sbp = c.sbp;
    r.dbp = c.dbp;
    r.mbp = c.mbp;
    r.firstMarker = c.firstMarker;
    r.secondMarker = c.secondMarker;
    r.resultWord6 = c.resultWord6;
    r.resultByte15 = c.resultByte15;
    r.resultByte16 = c.resultByte16;
    // The list is at most 50 words long, ended by the first 0 (the reader cut it there).
    std::copy_n(c.pulseMarks.begin(), std::min(c.pulseMarks.size(), r.pulseMarks.size()),
                r.pulseMarks.begin());
    review->m_analysis = std::make_unique<COscillometricAnalysis>();
    review->m_analysis->analyse(c.pressure, c.wave, 0);
    review->m_lastSampleIndex = std::max(0, review->m_analysis->recordingLength() - 1);
    return review;
}

std::string CRecordingReview::fileName() const { return fs::path(m_path).filename().string(); }

RecordingView CRecordingReview::view() const {
    const AnimalTexts& animal = m_contents.animal;
    return {pressureRing(),
            waveRing(),
            m_result,
            m_analysis.get(),
            m_lastSampleIndex,
            {dateTimeText(), "No " + animal.animalNo + "  " + animal.studyNo,
             animal.weight + "  " + animal.sexAge, animal.comment},
            true};
}

std::string CRecordingReview::neighbour(const std::string& path, int step) {
    struct Entry {
        fs::file_time_type time;
        std::string name;
        bool operator<(const Entry& o) const { return time != o.time ? time < o.time : name < o.name; }
    };
    std::error_code ec;
    const fs::path current(path);
    const fs::path folder = current.parent_path().empty() ? fs::path(".") : current.parent_path();
    std::vector<Entry> entries;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::error_code fileEc;
        // Only files that can be data files by their size are worth reading.
        if (!entry.is_regular_file(fileEc)) continue;
        const auto size = entry.file_size(fileEc);
        if (fileEc || size < kDataFileHeaderSize || size > kMaxDataFileSize) continue;
        const auto time = entry.last_write_time(fileEc);
        if (fileEc) continue;
        entries.push_back({time, entry.path().filename().string()});
    }
    std::sort(entries.begin(), entries.end());
    const std::string name = current.filename().string();
    auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
    if (it == entries.end()) return {};
    auto index = static_cast<std::ptrdiff_t>(it - entries.begin());
    for (index += step; index >= 0 && index < static_cast<std::ptrdiff_t>(entries.size()); index += step) {
        const std::string candidate = (folder / entries[static_cast<std::size_t>(index)].name).string();
        if (readDataFile(candidate).ok) return candidate;
    }
    return {};
}

}  // namespace hx
