#pragma once
// How the control tests' and the soak's virtual loop reads the units: on its own thread, as
// --fast runs, or, with HX40K_RECEIVER_THREADS set, with a receiver thread per
// unit and its real hand-over, so that the same tests (and ThreadSanitizer)
// also cover the threads the program reads with in real time.

#include <cstdlib>

#include "control/VirtualEventLoop.h"

namespace hx::test {

inline CVirtualEventLoop::ReceiverReads receiverReadsUnderTest() {
    return std::getenv("HX40K_RECEIVER_THREADS") != nullptr ? CVirtualEventLoop::ReceiverReads::OnThread
                                                            : CVirtualEventLoop::ReceiverReads::OnLoop;
}

}  // namespace hx::test
