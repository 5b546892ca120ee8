#include "data/FormatHeaders.h"

THeaderFinding ReadFormatHeaders(const std::string& /*Name*/, const uint8_t* /*Head*/,
                                 int64_t /*HeadBytes*/, int64_t /*FileSize*/) {
  return {};
}
