// statText: a status record as one comparable string, "<code> <message>".
#pragma once

#include <string>

#include "shared/stp_transport/tstat.h"

namespace testsupport {

inline std::string statText(const TStat &st) {
  return std::to_string(st.code) + " " + (st.message ? st.message : "");
}

}  // namespace testsupport
