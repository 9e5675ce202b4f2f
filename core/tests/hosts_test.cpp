// Tests of HostsFromEnvironment.
#include "core/hosts.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace brevis {
namespace {

TEST(HostsTest, VariablesOrTheLocalMirror) {
  struct Case {
    const char* server;  // nullptr: unset
    const char* office;
    const char16_t* expectedServer;
    const char16_t* expectedOffice;
  };
  constexpr Case kCases[] = {
      {nullptr, nullptr, u"http://127.0.0.1:8642", u"http://127.0.0.1:8642"},
      {"", "", u"http://127.0.0.1:8642", u"http://127.0.0.1:8642"},
      {"http://127.0.0.1:9000/", "http://127.0.0.2:80//", u"http://127.0.0.1:9000",
       u"http://127.0.0.2:80"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.server == nullptr ? "unset" : c.server);
    for (const auto& [name, value] :
         {std::pair{"BREVISFETCH_SERVER", c.server}, {"BREVISFETCH_PATENT_OFFICE", c.office}}) {
      if (value == nullptr) {
        ::unsetenv(name);
      } else {
        ::setenv(name, value, 1);
      }
    }
    const Hosts hosts = HostsFromEnvironment();
    EXPECT_EQ(hosts.Server, c.expectedServer);
    EXPECT_EQ(hosts.PatentOffice, c.expectedOffice);
  }
  ::unsetenv("BREVISFETCH_SERVER");
  ::unsetenv("BREVISFETCH_PATENT_OFFICE");
}

}  // namespace
}  // namespace brevis
