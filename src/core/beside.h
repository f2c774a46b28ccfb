#pragma once
// Work that runs beside the rest of the program: the mail check. It runs on a stack of its own (a
// fiber), so that each of its waits suspends only the work itself; the event loop resumes it once what
// it waits for has come. Meanwhile every other handler runs as usual, and their own waits nest
// among themselves as they always have, without holding the work nor being held by it. The work
// keeps its straight-line code: a wait simply returns later. One such work at a time in each lane:
// the check's, and the push connection's, which waits on its server for hours and so must hold
// neither the check nor anything else.
#include <cstdint>
#include <functional>

namespace core {

enum class Lane { Check, Push };

// Starts work beside the program and returns once it first waits (or has ended). While another runs
// in the lane, it does nothing and returns false. Called from work beside, it runs the new work inline.
// An exception that leaves the work comes out of the call that last resumed it.
bool RunBeside(std::function<void()> work, Lane lane = Lane::Check);
// The lane's work has started and not yet ended.
bool BesideRunning(Lane lane = Lane::Check);
// The caller runs on the stack of work beside (either lane).
bool OnBeside();
// Ends the lane's work where it waits: its wait does not return, its stack unwinds (locals are
// destroyed) and nothing more of it runs. For closing the program in the middle of a check.
void AbandonBeside(Lane lane = Lane::Check);

// For the event loops and the waits.
namespace beside {

// Suspends the running work until ready() holds or limitMs have passed on the loop's counter (untimed: only
// ready). Returns whether ready() held. network: what it waits for comes from a socket.
// nudged: whoever brings what it waits for says so (beside::Look through the loop), so the loops need
// not look at it after every event.
bool Suspend(const std::function<bool()>* ready, bool timed, uint32_t limitMs, bool network, bool nudged = false);
// Work of some lane is suspended in a wait.
bool Waiting();
// Such a wait waits for a socket's answer.
bool WaitingOnNetwork();
// Such a wait ends on something an event brings (a socket's data, a box closed), not only on time,
// and nobody nudges the loop for it.
bool WaitingOnEvents();
// Milliseconds until the first of their time limits is up on the loop's counter: 0 when up,
// INT64_MAX when none is timed.
int64_t LeftMs();
// Resumes each lane's work whose wait is over (ready, or its time up). For the loops, after they
// have handled events or moved the clock on.
void Serve();

}  // namespace beside

}  // namespace core
