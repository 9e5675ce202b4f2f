// Hosts: read from the environment.
#include "core/hosts.h"

#include <cstdlib>

#include "common/text.h"

namespace brevis {

namespace {

std::u16string HostFrom(const char* variable) {
  const char* value = std::getenv(variable);
  std::u16string host = Utf8ToUtf16(value != nullptr && *value != '\0' ? value : kDefaultHost);
  while (!host.empty() && host.back() == u'/') host.pop_back();
  return host;
}

}  // namespace

Hosts HostsFromEnvironment() {
  return {HostFrom("BREVISFETCH_SERVER"), HostFrom("BREVISFETCH_PATENT_OFFICE")};
}

}  // namespace brevis
