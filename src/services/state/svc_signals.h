// svc_signals: the signal dispositions of the state-manager process.
//
// The process ignores the terminal's interrupt and job-control signals (it is
// started by the service router, not from a shell, and must keep serving)
// and reaps its exited children (a privately launched router, plugins) from
// a SIGCHLD handler that never blocks. Assumes one thread.
#pragma once

// The SIGCHLD handler: reaps one exited child without blocking, installs
// itself again, and reaps one more, so two children ending together are
// both collected. Touches nothing but waitpid, signal and errno (restored).
void childDiedSigHandler(int signal);

// SIGCHLD to childDiedSigHandler; SIGINT, SIGTSTP, SIGTTIN and SIGTTOU
// ignored. Call after the runtime library has installed its own traps.
void Svc_SetSignalDispositions();
