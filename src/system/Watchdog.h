// Guards the user's desktop against a saver that stops responding: a thread of its own, apart from
// the painting loop, that ends the process when the loop has not come back to deliver input for a
// few seconds, whatever holds it (a reply that never comes, a lock never released, a bug). The
// server then removes the saver's windows and the desktop is back.
#pragma once

namespace digitmosaic {

// Called by the painting loop each time it delivers input; costs one relaxed atomic increment.
// A beat also ends a rest.
void WatchdogBeat();

// Called by the painting loop before it sleeps until an event comes, with nothing to paint: the
// watchdog sleeps too, without waking, until the next beat.
void WatchdogRest();

// Starts the watching thread once (later calls do nothing). Unless resting, it wakes once a second
// and counts the wakes that found no beat since the one before; after `patience` of them in a row
// it writes "digitmosaic: stopped responding; ending" on the program's error stream and ends the
// process with status 1. Wakes are counted, not elapsed time, so a process stopped (SIGSTOP) and
// continued resumes counting where it stood. Returns false when no thread could be started.
bool StartWatchdog(int patience);

}  // namespace digitmosaic
