#pragma once
// The event-loop port: how the main window's logic receives its private
// messages and numbered timers, and how other threads reach it.
// Implementations: a Qt one (front ends) and a virtual-time one (tests, --fast).

#include <cstdint>
#include <functional>

#include "app/Clock.h"
#include "app/WindowMessages.h"

namespace hx {

class CEvent;

// What the loop delivers to: the main window's logic. Called on the UI thread.
class IMessageTarget {
  public:
    virtual ~IMessageTarget() = default;
    virtual void handleMessage(const WindowMessage& message) = 0;
    virtual void handleTimer(int timerId) = 0;
};

class IEventLoop {
  public:
    virtual ~IEventLoop() = default;

    // The one target of the loop; set before anything is posted.
    virtual void setTarget(IMessageTarget* target) = 0;

    // Queues a message for the UI thread. Any thread.
    virtual void post(WindowMessage message) = 0;

    // Delivers a message on the UI thread and returns once it has been handled.
    // On the UI thread it is handled at once; from another thread it is queued
    // and also handled inside nested modal loops. When abort is given and gets
    // set before the message was handled, the call returns false without
    // waiting any longer (a stopping receiver thread must never hang).
    virtual bool send(WindowMessage message, CEvent* abort = nullptr) = 0;

    // Runs fn on the UI thread and waits for it (same rules as send).
    virtual bool invoke(std::function<void()> fn, CEvent* abort = nullptr) = 0;

    // Numbered timers of the main window; starting a running timer restarts it.
    virtual void startTimer(int timerId, int periodMs) = 0;
    virtual void killTimer(int timerId) = 0;
    virtual bool timerRunning(int timerId) const = 0;

    // Handles events until done() is true or timeoutMs has passed (-1: no
    // limit). Used by modal dialogs that must keep the program running.
    // Returns done().
    virtual bool pumpUntil(const std::function<bool()>& done, int timeoutMs) = 0;

    // Time as the UI thread sees it. Its sleepMs lets time pass (a virtual
    // clock moves on), so handler waits behave as they would on a real unit.
    virtual IClock& clock() = 0;

    // An extra condition under which a virtual-time loop may let time pass
    // although records are in flight: the receiver thread waits for the main
    // window, so nothing moves until the window acts. Real loops ignore it.
    virtual void setQuietCondition(std::function<bool()>) {}

    // Work the loop does itself in virtual time whenever it looks for
    // something to do (a receiver reading its pipe on the loop's thread, one
    // record a call, instead of on a thread of its own): `work` returns true
    // when it did something. False when the loop takes no such work (real
    // loops): the caller then needs a thread. UI thread; owner is the key.
    virtual bool addPoller(const void* owner, std::function<bool()> work) {
        (void)owner;
        (void)work;
        return false;
    }
    virtual void removePoller(const void* owner) { (void)owner; }

    // Ends the loop's run (the program quits after the current handler).
    virtual void quit(int exitCode) = 0;
};

}  // namespace hx
