#include "core/beside.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

#include "core/event_loop.h"

#if defined(__SANITIZE_ADDRESS__)
#define VELLUMINE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLUMINE_ASAN 1
#endif
#endif
#ifdef VELLUMINE_ASAN
#include <dlfcn.h>
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

namespace core {

namespace {

// Thrown at the wait of abandoned work, to unwind its stack.
struct Abandoned {};

// Message boxes and dialogs may be built on the work's stack: room to spare (more under
// AddressSanitizer, whose frames are larger).
#ifdef VELLUMINE_ASAN
constexpr size_t kStackSize = size_t(4) << 20;
#else
constexpr size_t kStackSize = size_t(1) << 20;
#endif

enum class State { None, Running, Waiting };

struct Beside {
    State state = State::None;
    bool onIt = false;      // the work's stack is the one running
    bool abandon = false;
    std::function<void()> work;
    std::exception_ptr error;
    // The wait it is suspended in.
    const std::function<bool()>* ready = nullptr;
    bool timed = false;
    bool network = false;
    bool nudged = false;
    uint32_t start = 0, limit = 0;

    ucontext_t loopContext{}, workContext{};
    char* stack = nullptr;  // kStackSize, above kGuardSize that faults
    // AddressSanitizer's view of the two stacks.
    void* loopFake = nullptr;
    void* workFake = nullptr;
    const void* loopBottom = nullptr;
    size_t loopSize = 0;
};

// One per lane; `current` is the one whose stack runs (null on the loop's).
Beside lanes[2];
Beside* current = nullptr;

Beside& Of(Lane lane) { return lanes[lane == Lane::Check ? 0 : 1]; }

#ifdef VELLUMINE_ASAN
// AddressSanitizer's stand-in for swapcontext warns, at its first use, that it may report wrongly.
// Each switch here tells it about the stacks itself, so the C library's own is called.
int SwapContext(ucontext_t* from, const ucontext_t* to) {
    using Swap = int (*)(ucontext_t*, const ucontext_t*);
    static const Swap system = [] {
        void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
        void* own = libc ? dlsym(libc, "swapcontext") : nullptr;
        return own ? reinterpret_cast<Swap>(own) : Swap(&swapcontext);
    }();
    return system(from, to);
}
#else
int SwapContext(ucontext_t* from, const ucontext_t* to) { return swapcontext(from, to); }
#endif

// Below the work's stack, as wide as the gap the kernel keeps below the main thread's: our own code is
// built with -fstack-clash-protection, whose probes touch every page of a large frame, but Qt and the
// other libraries running on this stack (dialogs are built here) may not be, and a frame of theirs that
// skips the guard would write into whatever lies below. Address space only: no memory is spent on it.
constexpr size_t kGuardSize = size_t(1) << 20;

void StackOrDie(Beside& g) {
    if (g.stack) return;
    void* base = mmap(nullptr, kGuardSize + kStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                      -1, 0);
    if (base == MAP_FAILED) std::abort();
    // An overflow hits the guard instead of whatever lies below; a stack without one is not used.
    if (mprotect(base, kGuardSize, PROT_NONE) != 0) std::abort();
    g.stack = static_cast<char*>(base) + kGuardSize;
}

// Switches from the loop's stack into the work, and back when it waits or ends.
void SwitchIn(Beside& g) {
    g.onIt = true;
    current = &g;
#ifdef VELLUMINE_ASAN
    __sanitizer_start_switch_fiber(&g.loopFake, g.stack, kStackSize);
#endif
    SwapContext(&g.loopContext, &g.workContext);
#ifdef VELLUMINE_ASAN
    __sanitizer_finish_switch_fiber(g.loopFake, nullptr, nullptr);
#endif
    g.onIt = false;
    current = nullptr;
}

// From the work back to the loop's stack; ended: for good (its stack is free again).
void SwitchOut(Beside& g, bool ended) {
#ifdef VELLUMINE_ASAN
    __sanitizer_start_switch_fiber(ended ? nullptr : &g.workFake, g.loopBottom, g.loopSize);
#endif
    SwapContext(&g.workContext, &g.loopContext);
#ifdef VELLUMINE_ASAN
    __sanitizer_finish_switch_fiber(g.workFake, &g.loopBottom, &g.loopSize);
#endif
    (void)ended;
}

void Entry() {
    Beside& g = *current;
#ifdef VELLUMINE_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &g.loopBottom, &g.loopSize);
#endif
    try {
        g.work();
    } catch (const Abandoned&) {
    } catch (...) {
        g.error = std::current_exception();
    }
    g.work = nullptr;
    g.state = State::None;
    SwitchOut(g, true);
}

// Runs the work until it waits or ends; what it threw comes out here.
void Resume(Beside& g) {
    g.state = State::Running;
    g.ready = nullptr;
    SwitchIn(g);
    if (g.error) std::rethrow_exception(std::exchange(g.error, nullptr));
}

bool Due(const Beside& g) {
    if (g.state != State::Waiting) return false;
    if (g.ready && (*g.ready)()) return true;
    return g.timed && Loop().TimeGetTime() - g.start >= g.limit;
}

}  // namespace

bool RunBeside(std::function<void()> work, Lane lane) {
    if (current) {
        work();
        return true;
    }
    Beside& g = Of(lane);
    if (g.state != State::None) return false;
    StackOrDie(g);
#ifdef VELLUMINE_ASAN
    // Whatever the last work left marked on the stack is gone with it.
    __asan_unpoison_memory_region(g.stack, kStackSize);
#endif
    getcontext(&g.workContext);
    g.workContext.uc_stack.ss_sp = g.stack;
    g.workContext.uc_stack.ss_size = kStackSize;
    g.workContext.uc_link = nullptr;
    makecontext(&g.workContext, Entry, 0);
    g.work = std::move(work);
    g.abandon = false;
    Resume(g);
    return true;
}

bool BesideRunning(Lane lane) { return Of(lane).state != State::None; }

bool OnBeside() { return current != nullptr; }

void AbandonBeside(Lane lane) {
    Beside& g = Of(lane);
    if (current || g.state != State::Waiting) return;
    g.abandon = true;
    Resume(g);
}

namespace beside {

bool Suspend(const std::function<bool()>* ready, bool timed, uint32_t limitMs, bool network, bool nudged) {
    Beside& g = *current;
    if (g.abandon) {
        // Abandoned while unwinding already: a wait in a destructor ends at once.
        if (std::uncaught_exceptions() > 0) return false;
        throw Abandoned{};
    }
    g.ready = ready;
    g.timed = timed;
    g.network = network;
    g.nudged = nudged;
    g.start = Loop().TimeGetTime();
    g.limit = limitMs;
    g.state = State::Waiting;
    Loop().BesideWaits();
    SwitchOut(g, false);
    if (g.abandon) throw Abandoned{};
    return ready && (*ready)();
}

bool Waiting() {
    for (const Beside& g : lanes)
        if (g.state == State::Waiting) return true;
    return false;
}

bool WaitingOnNetwork() {
    for (const Beside& g : lanes)
        if (g.state == State::Waiting && g.network) return true;
    return false;
}

bool WaitingOnEvents() {
    for (const Beside& g : lanes)
        if (g.state == State::Waiting && g.ready && !g.nudged) return true;
    return false;
}

int64_t LeftMs() {
    int64_t least = std::numeric_limits<int64_t>::max();
    for (const Beside& g : lanes) {
        if (g.state != State::Waiting || !g.timed) continue;
        const uint32_t elapsed = Loop().TimeGetTime() - g.start;
        least = std::min(least, elapsed >= g.limit ? int64_t(0) : int64_t(g.limit - elapsed));
    }
    return least;
}

void Serve() {
    // Each lane whose wait is over runs on until it waits again; neither holds the other.
    for (Beside& g : lanes) {
        if (current) return;
        if (Due(g)) Resume(g);
    }
}

}  // namespace beside

}  // namespace core
