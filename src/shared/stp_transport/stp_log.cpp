// Protocol-log sinks: the abstract STPLog with its formatting helpers, the
// stdio file log and its timestamped variant.
#include "shared/stp_transport/stp_log.h"

#include <sys/time.h>

#include <cstring>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

STPLog::~STPLog() = default;

void STPLog::add(const char *text) {
  if (text) add(text, static_cast<int>(std::strlen(text)));
}

void STPLog::addf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  add_va_list(format, args);
  va_end(args);
}

void STPLog::add_va_list(const char *format, va_list args) {
  char *text = gen_avsprintf(format, args);
  if (!text) return;
  add(text, static_cast<int>(std::strlen(text)));
  gen_free(text);
}

void STPLog::logStart(STPSpecClass *endpoint, bool flag) {}

void STPLog::logEnd(STPSpecClass *endpoint, bool flag) {}

STPFileLog::STPFileLog(FILE *file, bool closeOnDelete) : file(file), closeOnDelete(closeOnDelete) {}

STPFileLog::~STPFileLog() {
  if (closeOnDelete && file) std::fclose(file);
}

void STPFileLog::add(const char *text) {
  if (text && file) std::fputs(text, file);
}

void STPFileLog::add(const char *data, int length) {
  if (file && data && length > 0) std::fwrite(data, 1, static_cast<size_t>(length), file);
}

void STPFileLog::logEnd(STPSpecClass *endpoint, bool flag) {
  if (file) std::fflush(file);
}

TimestampedSTPFileLog::TimestampedSTPFileLog(FILE *file, bool closeOnDelete)
    : STPFileLog(file, closeOnDelete) {}

void TimestampedSTPFileLog::logStart(STPSpecClass *endpoint, bool flag) {
  if (!file) return;
  struct timeval now;
  gettimeofday(&now, nullptr);
  std::fprintf(file, "%lld.%.3u: ", static_cast<long long>(now.tv_sec),
               static_cast<unsigned>(now.tv_usec / 1000));
}
