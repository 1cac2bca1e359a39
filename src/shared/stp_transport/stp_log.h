// STPLog: the sink of the protocol log that generated endpoint code writes
// one entry at a time (logStart, several add/addf, logEnd). STPFileLog writes
// the entries to a stdio stream; TimestampedSTPFileLog starts every entry with
// the wall-clock time as "<seconds>.<milliseconds>: ". One thread.
#pragma once

#include <cstdarg>
#include <cstdio>

class STPSpecClass;

class STPLog {
 public:
  virtual ~STPLog();
  // Writes a zero-terminated text; a null text is ignored. The default calls
  // add(text, strlen(text)).
  virtual void add(const char *text);
  // Writes `length` bytes of data.
  virtual void add(const char *data, int length) = 0;
  // Formats with the library's printf engine and writes the result.
  virtual void addf(const char *format, ...);
  virtual void add_va_list(const char *format, va_list args);
  // Start and end of one entry; the endpoint and the flag are for logs that
  // want them. Both do nothing here.
  virtual void logStart(STPSpecClass *endpoint, bool flag);
  virtual void logEnd(STPSpecClass *endpoint, bool flag);
};

class STPFileLog : public STPLog {
 public:
  // Writes to `file` (may be null: then nothing is written). With
  // closeOnDelete the log owns the stream and closes it when destroyed.
  STPFileLog(FILE *file, bool closeOnDelete);
  ~STPFileLog() override;
  STPFileLog(const STPFileLog &) = delete;
  STPFileLog &operator=(const STPFileLog &) = delete;

  using STPLog::add;
  void add(const char *text) override;
  void add(const char *data, int length) override;
  // Flushes the stream so that an entry is complete on disk.
  void logEnd(STPSpecClass *endpoint, bool flag) override;

  FILE *getFile() const { return file; }

 protected:
  FILE *file;
  bool closeOnDelete;
};

class TimestampedSTPFileLog : public STPFileLog {
 public:
  TimestampedSTPFileLog(FILE *file, bool closeOnDelete);
  // Writes the current time as "%lld.%.3u: " (seconds since the epoch, a
  // point, three millisecond digits, a colon and a blank).
  void logStart(STPSpecClass *endpoint, bool flag) override;
};
