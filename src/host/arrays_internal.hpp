// Scope of the host arrays made during one call of travo's host layer.
#pragma once

namespace travo::host::detail {

// While an ArrayScope lives on a thread, host arrays that this thread
// creates and does not destroy are destroyed when the scope ends, as a real
// host does with the temporaries and discarded outputs of a call.
class ArrayScope {
public:
    ArrayScope();
    ~ArrayScope();
    ArrayScope(const ArrayScope &) = delete;
    ArrayScope &operator=(const ArrayScope &) = delete;

private:
    bool owner_ = false;  // an inner scope leaves the arrays to the outer one
};

}  // namespace travo::host::detail
