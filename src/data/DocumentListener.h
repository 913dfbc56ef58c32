#pragma once
// What the document and the record decoding tell the main window. The
// controller implements it; every call is made on the user-interface thread,
// synchronously, from inside a document operation or a decoding call. The
// default implementations do nothing, so a listener overrides only what it
// shows.

#include <cstdint>
#include <string>

namespace hx {

// One row of the history list, as the document hands it out: the pressures are
// already halved for display, the measurement number already counts from 1.
struct HistoryRow {
    std::int32_t number = 0;  // the unit's measurement number + 1
    std::int32_t hr = 0;
    std::int32_t sbp = 0;
    std::int32_t mbp = 0;
    std::int32_t dbp = 0;
    std::string dateTime;  // YYMMDDhhmmss as the unit sent it (normally 12 characters)
};

class IDocumentListener {
  public:
    virtual ~IDocumentListener() = default;

    // Every 31st stored live sample: the unit's live heart rate. The controller
    // adds the unit state and forwards it to the information pane only while the
    // wave layout is shown.
    virtual void onLiveHeartRate(std::int16_t /*hr*/) {}

    // The sensor level of the live packets changed (0 to 15); same filtering.
    virtual void onSensorLevel(int /*level*/) {}

    // A packet began a new measurement sweep: the wave pane resets its sweep
    // and the information pane is repainted.
    virtual void onSweepRestart() {}

    // The unit's error flag changed; the controller shows "Error !!" while the
    // unit records (state 4) and the flag is non-zero, "---" otherwise.
    virtual void onErrorFlagChanged(int /*flag*/) {}

    // A saved result goes into the history list. errorCode is the caller's
    // value (the result's error code). The row lives only for this call.
    virtual void onHistoryRow(int /*errorCode*/, const HistoryRow& /*row*/) {}
};

}  // namespace hx
