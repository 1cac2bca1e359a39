// The owner of a loopback connection's other end, from NETLINK_SOCK_DIAG.
#include "shared/libcxxutil/ut_peer_uid.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct DiagRequest {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

// Copies the address and port of `sa` into a diagnostics socket id half.
void putEndpoint(const sockaddr_storage &sa, __be32 *addr, __be16 *port) {
  if (sa.ss_family == AF_INET) {
    const auto *in = reinterpret_cast<const sockaddr_in *>(&sa);
    std::memcpy(addr, &in->sin_addr, sizeof in->sin_addr);
    *port = in->sin_port;
  } else {
    const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&sa);
    std::memcpy(addr, &in6->sin6_addr, sizeof in6->sin6_addr);
    *port = in6->sin6_port;
  }
}

// The request for the socket at the other end: its source is our peer.
bool buildRequest(int fd, DiagRequest *req, const char **why) {
  sockaddr_storage local{}, peer{};
  socklen_t ll = sizeof local, pl = sizeof peer;
  if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &ll) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &pl) != 0) {
    *why = "not a connected socket";
    return false;
  }
  if ((local.ss_family != AF_INET && local.ss_family != AF_INET6) ||
      local.ss_family != peer.ss_family) {
    *why = "not a TCP/IP socket";
    return false;
  }
  std::memset(req, 0, sizeof *req);
  req->header.nlmsg_len = sizeof *req;
  req->header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  req->header.nlmsg_flags = NLM_F_REQUEST;
  req->body.sdiag_family = local.ss_family;
  req->body.sdiag_protocol = IPPROTO_TCP;
  req->body.idiag_states = ~0U;
  req->body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  req->body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  putEndpoint(peer, req->body.id.idiag_src, &req->body.id.idiag_sport);
  putEndpoint(local, req->body.id.idiag_dst, &req->body.id.idiag_dport);
  return true;
}

// Whether a socket in this state carries its owner. What is left of an end
// its process closed once the close is under way (time-wait, and FIN-wait-2
// kept as time-wait) reports uid 0, which must not pass for root's.
bool isFullSocket(int state) {
  return state == TCP_ESTABLISHED || state == TCP_FIN_WAIT1 || state == TCP_CLOSE_WAIT;
}

// Sends the request and reads the one answer: the uid, or -1.
long long ask(int nl, const DiagRequest &req, const char **why) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(nl, &req, sizeof req, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
    *why = "netlink request failed";
    return -1;
  }
  alignas(nlmsghdr) char buf[8192];
  ssize_t n;
  do {
    n = ::recv(nl, buf, sizeof buf, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    *why = "no netlink answer";
    return -1;
  }
  for (auto *h = reinterpret_cast<nlmsghdr *>(buf); NLMSG_OK(h, static_cast<unsigned>(n));
       h = NLMSG_NEXT(h, n)) {
    if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
        h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      const auto *m = static_cast<const inet_diag_msg *>(NLMSG_DATA(h));
      if (isFullSocket(m->idiag_state)) return m->idiag_uid;
      break;
    }
    if (h->nlmsg_type == NLMSG_ERROR || h->nlmsg_type == NLMSG_DONE) break;
  }
  *why = "the other end was not found";
  return -1;
}

}  // namespace

long long ut_peerSocketUid(int fd, const char **why) {
  const char *ignored = nullptr;
  if (!why) why = &ignored;
  DiagRequest req;
  if (!buildRequest(fd, &req, why)) return -1;
  int nl = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (nl < 0) {
    *why = "no netlink socket";
    return -1;
  }
  timeval limit{2, 0};  // the kernel answers at once; never hang on it
  ::setsockopt(nl, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  long long uid = ask(nl, req, why);
  ::close(nl);
  return uid;
}

bool ut_peerIsSameUser(int fd, long long *peerUid) {
  long long uid = ut_peerSocketUid(fd, nullptr);
  if (peerUid) *peerUid = uid;
  return uid >= 0 && uid == static_cast<long long>(::getuid());
}
