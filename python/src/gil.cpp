// Work without the GIL: giving it back safely, and looking for Ctrl-C.
#include <cxxabi.h>
#include <unistd.h>

#include "bindings.hpp"

namespace travo::python {

namespace {

// The main thread, the only one on which Python runs signal handlers.
unsigned long main_thread = 0;

}  // namespace

void register_gil(py::module_ &m) {
    (void)m;
    main_thread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

void relock(PyThreadState *state) noexcept {
    try {
        PyEval_RestoreThread(state);
    } catch (abi::__forced_unwind &) {
        for (;;) pause();
    }
}

Unlocked::Unlocked() {
    if (PyThread_get_thread_ident() == main_thread) {
        next_ = std::chrono::steady_clock::now() + kSignalEvery;
        progress_ = [this](double) { return keep_going(); };
    }
    state_ = PyEval_SaveThread();
}

bool Unlocked::keep_going() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return !interrupted_;
    next_ = now + kSignalEvery;
    relock(state_);
    interrupted_ = interrupted_ || PyErr_CheckSignals() != 0;
    state_ = PyEval_SaveThread();
    return !interrupted_;
}

}  // namespace travo::python
