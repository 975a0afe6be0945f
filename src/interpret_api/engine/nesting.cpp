// How deeply the module's calls nest on one thread, bounded by the C stack that the thread has.
#include "engine/capi.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__linux__) || defined(__APPLE__)
#include <pthread.h>
#endif

namespace vexo {

namespace {

// How deeply the module's calls are nested on this thread and the stack address of the outermost;
// the thread's stack from its lowest address to its end, and the lowest address in it that a call
// may start at (all 0 until the stack is measured).
struct Nesting {
    long depth;
    std::uintptr_t base;
    std::uintptr_t low;
    std::uintptr_t floor;
    std::uintptr_t end;
};
thread_local Nesting t_nesting = {0, 0, 0, 0, 0};

// The C stack that the nested calls of the module may take on one thread, from its outermost call
// on. A level takes a few kilobytes (more in instrumented builds); no view nests more than a few.
constexpr std::uintptr_t kNestingStack = std::uintptr_t{1} << 20;

// What is kept free below the last call that may start: the innermost view still calls into the
// interpreter and the libraries, and those take C stack of their own. A quarter of the thread's
// stack, within these bounds.
constexpr std::uintptr_t kMinReserve = std::uintptr_t{64} << 10;
constexpr std::uintptr_t kMaxReserve = std::uintptr_t{1} << 20;

// The lowest address of this thread's stack and its size, as the thread library knows them;
// false where it cannot tell.
bool thread_stack(std::uintptr_t& low, std::uintptr_t& size) {
#if defined(__linux__)
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) {
        return false;
    }
    void* address = nullptr;
    std::size_t bytes = 0;
    const bool known = pthread_attr_getstack(&attr, &address, &bytes) == 0;
    pthread_attr_destroy(&attr);
    low = reinterpret_cast<std::uintptr_t>(address);
    size = bytes;
    return known && bytes > 0;
#elif defined(__APPLE__)
    size = pthread_get_stacksize_np(pthread_self());
    low = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(pthread_self())) - size;
    return size > 0;
#else
    (void)low;
    (void)size;
    return false;
#endif
}

// Whether a call at the address ``here`` would start in the reserve of this thread's stack. The
// stack is measured once per thread, as it does not move. A call on a stack of its own (a fiber
// that a library switched to) is not judged, nor one on a thread whose stack cannot be measured:
// only the bound from the outermost call applies to them.
bool in_reserve(std::uintptr_t here) {
    if (t_nesting.end == 0) {
        std::uintptr_t low = 0;
        std::uintptr_t size = 0;
        if (thread_stack(low, size)) {
            t_nesting.low = low;
            t_nesting.end = low + size;
            // a stack smaller than the reserve is all reserve: no view call fits on it
            t_nesting.floor = std::min(low + std::clamp(size / 4, kMinReserve, kMaxReserve), t_nesting.end);
        } else {
            t_nesting.end = 1;  // measured: nothing known
        }
    }
    return t_nesting.low <= here && here < t_nesting.floor;
}

}  // namespace

// Views call back into Python (the experiment, methods that users may replace), which may call a
// view again. Each such level takes C stack that the interpreter's recursion limit stops bounding
// once a user raises it, and a thread may have far less stack than the main one (threading's
// stack_size), so the module bounds it itself, by the stack the thread really has: a cycle must
// end in RecursionError at any limit and on any thread, not in a crash.
bool enter_nesting() {
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    if (t_nesting.depth == 0) {
        t_nesting.base = here;
    }
    if (in_reserve(here) || (t_nesting.base > here && t_nesting.base - here > kNestingStack)) {
        PyErr_SetString(PyExc_RecursionError,
                        "maximum recursion depth exceeded while calling a vexo.workflow.interpret_api function");
        return false;
    }
    ++t_nesting.depth;
    return true;
}

void leave_nesting() { --t_nesting.depth; }

}  // namespace vexo
