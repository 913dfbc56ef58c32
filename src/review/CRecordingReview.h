#pragma once
// CRecordingReview: a saved data file opened for review, held apart from the
// live document so that the unit's rings and result stay untouched while the
// user looks at an older recording. It keeps the file's identification, the
// result as the panes draw it, both rings and the program's own analysis of
// the recording (made once, on opening).
//
// One thread at a time. Made by open(); a file the reader refuses yields no object
// and the reader's reason.

#include <memory>
#include <string>
#include <variant>

#include "analysis/OscillometricAnalysis.h"
#include "data/DataFileReader.h"
#include "data/MeasurementResult.h"
#include "review/RecordingView.h"

namespace hx {

class CRecordingReview {
  public:
    // The review of the file at path, or why it is not a data file.
    static std::variant<std::unique_ptr<CRecordingReview>, std::string> open(const std::string& path);
    // The review of contents already read from the file at path.
    static std::unique_ptr<CRecordingReview> fromContents(std::string path, DataFileContents contents);

    const std::string& path() const { return m_path; }
    std::string fileName() const;
    const DataFileContents& contents() const { return m_contents; }
    // Pressures, markers and pulse marks of the file in the live result's
    // form; the error code is 0 (only valid results carry markers and marks).
    const MeasurementResult& result() const { return m_result; }
    const Ring& pressureRing() const { return m_contents.pressure; }
    const Ring& waveRing() const { return m_contents.wave; }
    // The last recorded sample's index, as the live document gives it.
    int lastSampleIndex() const { return m_lastSampleIndex; }
    const COscillometricAnalysis& analysis() const { return *m_analysis; }
    // What the result and information panes draw of the file.
    RecordingView view() const;
    // "YY/MM/DD hh:mm:ss" as stored.
    std::string dateTimeText() const { return m_contents.date + " " + m_contents.time; }

  private:
    CRecordingReview() = default;

    std::string m_path;
    DataFileContents m_contents;
    MeasurementResult m_result;
    int m_lastSampleIndex = 0;
    std::unique_ptr<COscillometricAnalysis> m_analysis;
};

}  // namespace hx
