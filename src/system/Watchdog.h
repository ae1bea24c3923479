// Guards the user's desktop against a saver that stops responding: a thread of its own, apart from
// the painting loop, that ends the process when the loop has not come back to deliver input for a
// few seconds, whatever holds it (a connection that never completes, a reply that never comes, a
// lock never released, a bug). The server then removes the saver's windows and the desktop is back.
#pragma once

namespace digitmosaic {

// Called by the loop each time it delivers input; costs one relaxed atomic increment, and a
// write to the watchdog's wake-up descriptor when it ends a rest. Async-signal-safe.
void WatchdogBeat();

// Called by the loop before it sleeps until an event comes, with nothing to paint. The watchdog
// sleeps too, without waking, in one wait on `descriptor` (the display's connection) and on its
// wake-up descriptor: a beat ends the rest, and so does the descriptor once it is readable (input,
// or news of the windows, waits for the loop): from then on the wakes count as usual, so a loop
// that does not come back is ended within the same few seconds. A negative descriptor: only a
// beat ends the rest.
void WatchdogRest(int descriptor);

// Starts the watching thread once (later calls do nothing). Unless resting, it wakes once a second
// and counts the wakes that found no beat since the one before; after `patience` of them in a row
// it writes "digitmosaic: stopped responding; ending" on the program's error stream and ends the
// process with status 1. Wakes are counted, not elapsed time, so a process stopped (SIGSTOP) and
// continued resumes counting where it stood. Returns false when no thread could be started.
bool StartWatchdog(int patience);
// A picture row comes every refresh: five seconds without one is a saver that has stopped.
inline constexpr int kWatchdogPatience = 5;

// In the toolkit's module, which links its own copy of this code: the calls above go to the
// executable's watchdog, whose thread already runs.
using WatchdogBeatCall = void (*)();
using WatchdogRestCall = void (*)(int);
void UseWatchdogOf(WatchdogBeatCall beat, WatchdogRestCall rest);

}  // namespace digitmosaic
