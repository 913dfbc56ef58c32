#pragma once
// One read-only view of a recording, as the result and information panes draw
// it: both rings, the result (pressures, markers, pulse marks, error code), the
// program's analysis, the last recorded sample's index and the lines of text
// shown under the pressures. The live document's frozen recording and a saved
// file under review both give one. Borrowed: the owner must outlive the view,
// and the view is read on the owner's thread.

#include <string>
#include <vector>

#include "analysis/OscillometricAnalysis.h"
#include "base/Ring.h"
#include "data/Halnor55KUDoc.h"
#include "data/MeasurementResult.h"

namespace hx {

struct RecordingView {
    const Ring& pressure;
    const Ring& wave;
    const MeasurementResult& result;
    const COscillometricAnalysis* analysis;  // null before the recording is analysed
    int lastSampleIndex;
    // The date and time "YY/MM/DD hh:mm:ss", then for a saved file the animal's texts.
    std::vector<std::string> texts;
    // A saved file: it keeps no heart rate, and the unit's sensor level and the
    // live display's MBP/DBP setting are not its own.
    bool saved = false;
};

// The live document's last recording, with the analysis made of it (or null).
inline RecordingView liveRecordingView(const CHalnor55KUDoc& doc, const COscillometricAnalysis* analysis) {
    return {doc.resultPressureRing(), doc.resultWaveRing(),     doc.result(), analysis,
            doc.lastSampleIndex(),    {doc.formattedDateTime()}};
}

}  // namespace hx
