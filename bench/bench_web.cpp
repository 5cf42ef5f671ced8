// Requests per second of HttpExtensionProc answering the query-form page in-process.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "web/stand_in_data_access.h"
#include "web/web_application.h"

namespace {

struct Sink {
  std::size_t bytes = 0;
};

int GetServerVariable(void*, const char* name, void* buffer, uint32_t* size) {
  if (std::strcmp(name, "SERVER_PROTOCOL") != 0 || *size < 9) return 0;
  std::memcpy(buffer, "HTTP/1.1", 9);
  *size = 9;
  return 1;
}
int WriteClient(void* id, const void*, uint32_t* bytes, uint32_t) {
  static_cast<Sink*>(id)->bytes += *bytes;
  return 1;
}
int ReadClient(void*, void*, uint32_t* size) {
  *size = 0;
  return 0;
}
int ServerSupportFunction(void*, uint32_t, void*, uint32_t*, void*) { return 1; }

dovecrest::TWebApplication& Application() {
  static dovecrest::TWebApplication* app = [] {
    static std::string dir = [] {
      char tmpl[] = "/tmp/dovecrest-bench-XXXXXX";
      std::string d = mkdtemp(tmpl);
      std::ofstream(d + "/Vantrel.ini") << "[Setting]\nDBPath=/q/\n";
      return d;
    }();
    setenv("VANTREL_CONFIG_DIR", dir.c_str(), 1);
    return new dovecrest::TWebApplication([] { return std::make_unique<dovecrest::TStandInDataAccess>(); });
  }();
  return *app;
}

void BM_FormPage(benchmark::State& state) {
  auto& app = Application();
  Sink sink;
  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof ecb;
  ecb.ConnID = &sink;
  ecb.lpszMethod = "GET";
  ecb.lpszPathInfo = "";
  ecb.lpszQueryString = "";
  ecb.GetServerVariable = &GetServerVariable;
  ecb.WriteClient = &WriteClient;
  ecb.ReadClient = &ReadClient;
  ecb.ServerSupportFunction = &ServerSupportFunction;
  for (auto _ : state) {
    if (app.HttpExtensionProc(ecb) != HSE_STATUS_SUCCESS) state.SkipWithError("request failed");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(sink.bytes));
}
BENCHMARK(BM_FormPage)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
