#include "review/CRecordingReview.h"

#include <algorithm>
#include <filesystem>

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

}  // namespace hx
