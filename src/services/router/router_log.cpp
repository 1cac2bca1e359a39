// The router's logs: a time-stamped internal log and the protocol log.
#include "services/router/router_log.h"

#include <cstdarg>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/mt_vsprintf.h"
#include "shared/stp_transport/stp_log.h"

Router_Log::~Router_Log() {
  if (internal) std::fclose(internal);
  delete protocol;
}

bool Router_Log::openInternal(const char *fileName) {
  if (!fileName || !*fileName) return true;
  internal = gen_fopen(fileName, "we");
  return internal != nullptr;
}

bool Router_Log::openProtocol(const char *fileName) {
  if (!fileName || !*fileName) return true;
  FILE *f = gen_fopen(fileName, "we");
  if (!f) return false;
  protocol = new TimestampedSTPFileLog(f, true);
  return true;
}

void Router_Log::writeLine(const char *text) {
  long long now = ut_getTimeMillis64();
  std::fprintf(internal, "%lld.%03d: %s\n", now / 1000, static_cast<int>(now % 1000), text);
  std::fflush(internal);
}

void Router_Log::note(const char *format, ...) {
  if (!internal) return;
  va_list args;
  va_start(args, format);
  char *text = gen_avsprintf(format, args);
  va_end(args);
  writeLine(text);
  gen_free(text);
}

void Router_Log::warn(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = gen_avsprintf(format, args);
  va_end(args);
  if (internal) writeLine(text);
  gen_warning("%s", text);
  gen_free(text);
}

void Router_Log::pluginText(int pluginId, const char *text) {
  if (!protocol || !text) return;
  protocol->logStart(nullptr, false);
  protocol->addf("plugin %d: ", pluginId);
  protocol->add(text);
  protocol->logEnd(nullptr, false);
}
