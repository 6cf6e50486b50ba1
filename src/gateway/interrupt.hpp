// The host's interrupt request (Ctrl-C), as long generation asks for it.
//
// In Octave (TRAVO_OCTAVE_HOST), a caught signal is handled at once with
// octave_quit(); an interrupt then comes as Octave's own exception. It is
// caught here, inside the progress function, so that it never passes
// through the generator: generation is abandoned and releases what it took,
// and the entry rethrows the exception from a frame that holds nothing, so
// that Octave goes on as after any interrupted call. Other hosts, and
// travo's own host layer, make no request.
#pragma once

#include <exception>

#if defined(TRAVO_OCTAVE_HOST)
#include <octave/quit.h>
#endif

namespace travo::gateway {

// The host's exception waiting to be rethrown by the entry, if any.
inline std::exception_ptr &pendingInterrupt() {
    static std::exception_ptr pending;
    return pending;
}

// Whether generation may go on: false once the host asked to stop.
inline bool keepGoing() {
    if (pendingInterrupt()) return false;
#if defined(TRAVO_OCTAVE_HOST)
    if (octave_signal_caught) {
        try {
            octave_quit();
        } catch (...) {
            pendingInterrupt() = std::current_exception();
            return false;
        }
    }
#endif
    return true;
}

// Rethrows the host's exception, if one is waiting; to be called by the
// entry once everything the call took is released.
inline void rethrowInterrupt() {
    if (!pendingInterrupt()) return;
    const std::exception_ptr e = pendingInterrupt();
    pendingInterrupt() = nullptr;
    std::rethrow_exception(e);
}

}  // namespace travo::gateway
