// HTTP client throughput: 200 files of 60 KB fetched one after another from a private nginx on
// loopback, by one HttpClient keeping its connection, and by one curl process given the same
// 200 addresses (curl then reuses its connection too). Both count the bytes of the bodies.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "http/http_client.h"
#include "http/tests/nginx_server.h"

extern char** environ;

namespace {

constexpr int kFiles = 200;
constexpr std::size_t kFileSize = 60 * 1024;

std::vector<std::string> urls;

void BM_HttpClient200Files(benchmark::State& state) {
  std::vector<std::u16string> wide;
  for (const std::string& url : urls) wide.push_back(brevis::Utf8ToUtf16(url));
  for (auto _ : state) {
    brevis::HttpClient client;
    client.SetReadTimeout(15000);
    for (const std::u16string& url : wide) {
      brevis::MemoryStream body;
      try {
        client.Get(url, body);
      } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
      }
      if (body.Size() != static_cast<int64_t>(kFileSize)) {
        state.SkipWithError("short body");
        return;
      }
      benchmark::DoNotOptimize(body.Bytes().data());
    }
  }
  state.SetBytesProcessed(state.iterations() * kFiles * static_cast<int64_t>(kFileSize));
  state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_HttpClient200Files)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Curl200Files(benchmark::State& state) {
  std::vector<std::string> args = {BREVISFETCH_CURL, "--silent", "--fail"};
  for (const std::string& url : urls) {
    args.push_back("--output");
    args.push_back("/dev/null");
    args.push_back(url);
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto _ : state) {
    pid_t pid = -1;
    if (::posix_spawn(&pid, BREVISFETCH_CURL, nullptr, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("curl could not be started");
      return;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("curl failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * kFiles * static_cast<int64_t>(kFileSize));
  state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_Curl200Files)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  brevis::testing::NginxServer nginx;
  std::vector<std::string> names;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/pages/%06d.tif", i + 1);
    nginx.MakeFile(name + 1, kFileSize, static_cast<unsigned>(i));
    names.push_back(name);
  }
  if (!nginx.Start()) {
    std::fprintf(stderr, "http_bench: %s\n", nginx.Error().c_str());
    return 1;
  }
  for (const std::string& name : names) urls.push_back(nginx.Url(name));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
