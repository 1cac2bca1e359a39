// Field codecs shared by generated endpoint code: the non-template calls.
#include "shared/stp_transport/stp_fields.h"

#include "shared/indgen.h"
#include "shared/stp_transport/stp_log.h"

namespace {

// A file name as it is sent: expanded; heap, free() it.
char *expanded(const char *name) { return name ? gen_expand_filename(name) : nullptr; }

// The elements a string array reads: at least 8 bytes each, so a larger
// count is a lie.
int plausibleStringCount(STPBinaryIMsg *m, int n) {
  return n < 0 || n > m->getMsg()->bodyLength / 8 ? 0 : n;
}

}  // namespace

void STPField_freeString(char **s) { std::free(*s); }

// ---- protocol-log form -------------------------------------------------------

void STPField_printText(STPLog *log, const char *text) { log->add(text); }

void STPField_print(STPLog *log, const char *label, int v) {
  log->add(label);
  log->addf("0x%x", static_cast<unsigned>(v));
}

void STPField_print(STPLog *log, const char *label, bool v) { STPField_print(log, label, v ? 1 : 0); }

void STPField_print(STPLog *log, const char *label, const char *v) {
  log->add(label);
  log->addf("\"%s\"", v ? v : "");
}

void STPField_print(STPLog *log, const char *label, const ut_string_list &v) {
  log->add(label);
  for (ut_string_list_iterator it = v.begin(); !it.is_end(); ++it) log->addf("\"%s\", ", it->c_str());
}

void STPField_printArray(STPLog *log, const char *label, const int *a, int count) {
  log->add(label);
  int n = STPArray_sentCount(a, count);
  for (int i = 0; i < n; ++i) {
    STPField_print(log, "", a[i]);
    log->add(", ");
  }
}

void STPField_printArray(STPLog *log, const char *label, char *const *a, int count) {
  log->add(label);
  int n = STPArray_sentCount(a, count);
  for (int i = 0; i < n; ++i) {
    STPField_print(log, "", static_cast<const char *>(a[i]));
    log->add(", ");
  }
}

// ---- ASCII -------------------------------------------------------------------

void STPField_putFileName(STPAsciiOMsg *m, const char *name, const char *v) {
  char *fn = expanded(v);
  m->putString(name, fn);
  std::free(fn);
}

void STPField_put(STPAsciiOMsg *m, const char *name, const ut_string_list &v) {
  m->putStartArray(name, v.size());
  for (ut_string_list_iterator it = v.begin(); !it.is_end(); ++it) m->putString(it->c_str());
  m->putEndArray();
}

void STPField_get(STPAsciiIMsg *m, const char *name, ut_string_list &v) {
  STPAsciiIMsgParamState st;
  int n = m->getStartArray(st, name);
  for (int i = 0; i < n; ++i) {
    char *s = m->getString();
    v.push_back(s);
    std::free(s);
  }
  m->getEndArray(st);
}

void STPField_putArray(STPAsciiOMsg *m, const char *name, const int *a, int count) {
  int n = STPArray_sentCount(a, count);
  m->putStartArray(name, n);
  for (int i = 0; i < n; ++i) m->putNumber(a[i]);
  m->putEndArray();
}

void STPField_putArray(STPAsciiOMsg *m, const char *name, char *const *a, int count, bool fileNames) {
  int n = STPArray_sentCount(a, count);
  m->putStartArray(name, n);
  for (int i = 0; i < n; ++i) {
    if (!fileNames) {
      m->putString(a[i]);
      continue;
    }
    char *fn = expanded(a[i]);
    m->putString(fn);
    std::free(fn);
  }
  m->putEndArray();
}

void STPField_getArray(STPAsciiIMsg *m, const char *name, int *&a, int &count) {
  STPAsciiIMsgParamState st;
  int n = m->getStartArray(st, name);
  a = STPArray_new<int>(n);
  if (!a) n = 0;
  for (int i = 0; i < n; ++i) a[i] = static_cast<int>(m->getNumber());
  count = n;
  m->getEndArray(st);
}

void STPField_getArray(STPAsciiIMsg *m, const char *name, char **&a, int &count) {
  STPAsciiIMsgParamState st;
  int n = m->getStartArray(st, name);
  a = STPArray_new<char *>(n);
  if (!a) n = 0;
  for (int i = 0; i < n; ++i) a[i] = m->getString();
  count = n;
  m->getEndArray(st);
}

// ---- binary ------------------------------------------------------------------

void STPField_putFileName(STPBinaryOMsg *m, int tag, const char *v) {
  char *fn = expanded(v);
  m->putS(tag, fn);
  std::free(fn);
}

void STPField_putArray(STPBinaryOMsg *m, int tag, const int *a, int count) {
  m->putDArray(tag, a, STPArray_sentCount(a, count), 4);
}

void STPField_putArray(STPBinaryOMsg *m, char *const *a, int count) {
  int n = STPArray_sentCount(a, count);
  m->put4(22, n);
  for (int i = 0; i < n; ++i) m->putS(23, a[i]);
}

void STPField_getArray(STPBinaryIMsg *m, int tag, int *&a, int &count) {
  int n = 0;
  a = static_cast<int *>(m->getDArray(tag, &n, 4));
  count = a ? n : 0;
}

void STPField_getArray(STPBinaryIMsg *m, char **&a, int &count) {
  int n = plausibleStringCount(m, m->get4(22));
  a = STPArray_new<char *>(n);
  if (!a) n = 0;
  for (int i = 0; i < n; ++i) a[i] = m->getS(23);
  count = n;
}
