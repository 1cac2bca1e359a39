// ut_peer_uid: which local user owns the other end of a loopback TCP
// connection.
//
// The kernel is asked through its socket-diagnostics netlink interface (the
// one `ss -e` reads) for the socket whose local address is this socket's
// peer address and whose peer address is this socket's local address; its
// record carries the uid of the process that created it. For an accepted
// socket that is the connecting process; for a connected socket it is the
// owner of the listening socket that accepted it.
//
// No privilege is needed. Works for IPv4 and IPv6 TCP sockets whose other
// end lives on this host. Thread-safe (no shared state).
#pragma once

#include <sys/types.h>

// The uid owning the other end of the connected TCP socket `fd`, or -1 when
// it cannot be found (not a TCP socket, the other end is on another host or
// already closed, netlink unavailable); *why (may be null) then names the
// step that failed (static text).
long long ut_peerSocketUid(int fd, const char **why);

// Whether the other end of `fd` belongs to this process's real uid. False
// when the owner cannot be found: callers refuse what they cannot check.
bool ut_peerIsSameUser(int fd, long long *peerUid);
