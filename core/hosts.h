// Hosts: where the maker's services and the patent office's search server are reached.
#pragma once

#include <string>

namespace brevis {

// brevisfetch-mirror listens here by default.
inline constexpr char kDefaultHost[] = "http://127.0.0.1:8642";

struct Hosts {
  std::u16string Server;        // the maker's mirror, update service and web pages
  std::u16string PatentOffice;  // the patent office's search server
};

// From BREVISFETCH_SERVER and BREVISFETCH_PATENT_OFFICE; an unset or empty variable gives
// kDefaultHost. Trailing "/" are dropped, so that paths can be appended as they are.
Hosts HostsFromEnvironment();

}  // namespace brevis
