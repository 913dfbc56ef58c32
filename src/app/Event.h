#pragma once
// A signalling event in the manner the receiver protocol relies on: manual-reset
// (stays set until reset) or auto-reset (a successful wait consumes it), and a
// wait for either of two events in which the first one takes precedence.
// Thread-safe; any thread may set, reset or wait. An event must outlive every
// wait on it.

namespace hx {

class CEvent {
  public:
    enum class Reset { Manual, Auto };

    explicit CEvent(Reset reset = Reset::Manual, bool initiallySet = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void set();
    void reset();
    bool isSet() const;

    // Waits without time limit until the event is set (consuming it when auto-reset).
    void wait();
    // Waits at most ms milliseconds of real time; true when the event was set.
    bool waitFor(int ms);

    // Waits without time limit until first or second is set. Returns 0 for first,
    // 1 for second; when both are set, first wins (and only it is consumed).
    static int waitAny(CEvent& first, CEvent& second);
    // As waitAny, but gives up after ms milliseconds of real time and returns -1.
    static int waitAnyFor(CEvent& first, CEvent& second, int ms);

  private:
    bool consumeLocked();

    bool m_manual;
    bool m_set;
};

}  // namespace hx
