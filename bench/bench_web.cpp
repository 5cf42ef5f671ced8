// Requests per second of HttpExtensionProc in-process: the query-form page, and the
// quota status page (three statements per request) on a small quota database.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "web/quota_database.h"
#include "web/web_application.h"

namespace {

struct Sink {
  std::size_t bytes = 0;
  std::string contentLength = "0";
};

int GetServerVariable(void* id, const char* name, void* buffer, uint32_t* size) {
  std::string value;
  if (std::strcmp(name, "SERVER_PROTOCOL") == 0) value = "HTTP/1.1";
  if (std::strcmp(name, "CONTENT_LENGTH") == 0) value = static_cast<Sink*>(id)->contentLength;
  if (value.empty() || *size < value.size() + 1) return 0;
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  *size = static_cast<uint32_t>(value.size() + 1);
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

// One application serving a quota database with a few users, printers and a
// setting row. main takes it down after the runs, while the engine's objects
// still exist, and the fixture's directories go with it.
struct Fixture {
  dovecrest::testing::QuotaDatabase db;
  dovecrest::testing::ConfigDir config;
  std::unique_ptr<dovecrest::TWebApplication> app;

  Fixture() {
    db.CreateTables();
    for (const char* row : {"'ALICE', '', 500, 120, 1", "'ALICE', 'Laser-2F', 200, 180, 3", "'BOB', '', -1, 42, 4",
                            "'CAROL', '', 300, 310, 2"})
      db.Exec(std::string("INSERT INTO \"user\" VALUES (") + row + ")");
    for (const char* row : {"'Laser-2F', 300, 10000, 2345, 1", "'Color', 50, -1, 800, 2"})
      db.Exec(std::string("INSERT INTO printer VALUES (") + row + ")");
    db.Exec("INSERT INTO setting VALUES (1, 2, 150, 4)");
    config.Write("[Setting]\nDBPath=" + db.Path() + "\n");
    app = std::make_unique<dovecrest::TWebApplication>();
  }
  ~Fixture() {
    app->Unload();
    app.reset();
  }
};

std::unique_ptr<Fixture>& TheFixture() {
  static std::unique_ptr<Fixture> fixture;
  return fixture;
}

dovecrest::TWebApplication& Application() {
  auto& fixture = TheFixture();
  if (!fixture) fixture = std::make_unique<Fixture>();
  return *fixture->app;
}

// A control block whose writes go to the sink, with `body` as the whole posted body.
EXTENSION_CONTROL_BLOCK ControlBlock(Sink& sink, const char* method, const char* pathInfo, const std::string& body) {
  sink.contentLength = std::to_string(body.size());
  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof ecb;
  ecb.ConnID = &sink;
  ecb.lpszMethod = method;
  ecb.lpszPathInfo = pathInfo;
  ecb.lpszQueryString = "";
  ecb.lpbData = reinterpret_cast<const unsigned char*>(body.data());
  ecb.cbAvailable = static_cast<uint32_t>(body.size());
  ecb.cbTotalBytes = static_cast<uint32_t>(body.size());
  ecb.GetServerVariable = &GetServerVariable;
  ecb.WriteClient = &WriteClient;
  ecb.ReadClient = &ReadClient;
  ecb.ServerSupportFunction = &ServerSupportFunction;
  return ecb;
}

void BM_FormPage(benchmark::State& state) {
  auto& app = Application();
  Sink sink;
  static const std::string noBody;
  EXTENSION_CONTROL_BLOCK ecb = ControlBlock(sink, "GET", "", noBody);
  for (auto _ : state) {
    if (app.HttpExtensionProc(ecb) != HSE_STATUS_SUCCESS) state.SkipWithError("request failed");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(sink.bytes));
}
BENCHMARK(BM_FormPage)->Threads(1)->Threads(8)->UseRealTime();

// The status page of a user with two limit rows: three statements prepared and run,
// the database opened and closed, per request.
void BM_StatusPage(benchmark::State& state) {
  auto& app = Application();
  static const std::string body = "UNAME=alice";
  Sink sink;
  EXTENSION_CONTROL_BLOCK ecb = ControlBlock(sink, "POST", "/Query", body);
  for (auto _ : state) {
    if (app.HttpExtensionProc(ecb) != HSE_STATUS_SUCCESS) state.SkipWithError("request failed");
  }
  if (sink.bytes < 2000 * static_cast<std::size_t>(state.iterations())) state.SkipWithError("not the status page");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatusPage)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  TheFixture().reset();
  benchmark::Shutdown();
  return 0;
}
