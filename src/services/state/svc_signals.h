// svc_signals: the signal dispositions of the state-manager process.
//
// The process ignores the terminal's interrupt and job-control signals (it is
// started by the service router, not from a shell, and must keep serving)
// and reaps its exited children (a privately launched router, plugins) from
// a SIGCHLD handler that never blocks.
//
// Hang-up, quit, terminate and broken pipe stop the process, but only after
// it has saved what an orderly exit saves. Their handler does nothing but
// note the signal and write one byte to a pipe the idle notifier watches;
// the event loop sees the note, leaves, and the program's ordinary shut-down
// saves and ends the process with status 2. Saving inside the handler is
// not an option: it would allocate, lock stdio and walk stores that the
// interrupted code may be changing. Assumes one thread.
#pragma once

// The SIGCHLD handler: reaps one exited child without blocking, installs
// itself again, and reaps one more, so two children ending together are
// both collected. Touches nothing but waitpid, signal and errno (restored).
void childDiedSigHandler(int signal);

// SIGCHLD to childDiedSigHandler; SIGINT, SIGTSTP, SIGTTIN and SIGTTOU
// ignored. Call after the runtime library has installed its own traps.
void Svc_SetSignalDispositions();

// SIGHUP, SIGQUIT, SIGTERM and SIGPIPE to the stop handler (replacing the
// runtime library's traps, which end the process at once), and the read
// end of the wake-up pipe to the idle notifier, so that a wait in progress
// returns. Later signals after the first are ignored: the save they would
// interrupt is what they are waiting for. False when the pipe cannot be
// made (the runtime's traps then stay).
bool Svc_InstallStopSignals();

// The first stop signal caught, 0 while none was.
int Svc_StopSignal();

// Ends the process after a stop signal: reports it as the runtime's traps
// do ("Interrupt (n)" for hang-up and quit, "Halted by a SIGPIPE." for a
// broken pipe, nothing for terminate) and exits with status 2. Returns only
// when a test's exit hook returns.
void Svc_ExitAfterStopSignal(int signal);
