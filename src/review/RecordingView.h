#pragma once
// One read-only view of a recording, as the result pane draws it: both rings,
// the result (markers, pulse marks, error code), the program's analysis and
// the last recorded sample's index. The live document's frozen recording and
// a saved file under review both give one. Borrowed: the owner must outlive
// the view, and the view is read on the owner's thread.

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
};

// The live document's last recording, with the analysis made of it (or null).
inline RecordingView liveRecordingView(const CHalnor55KUDoc& doc, const COscillometricAnalysis* analysis) {
    return {doc.resultPressureRing(), doc.resultWaveRing(), doc.result(), analysis, doc.lastSampleIndex()};
}

}  // namespace hx
