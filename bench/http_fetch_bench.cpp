// Fetching the deadline page from a real local web server: FetchPage against curl, same server,
// same run. The client waits in 2 ms pump steps; curl blocks on the socket.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <string>

#include "core/turn/deadline_fetch.h"
#include "net/nmhttp.h"
#include "platform/dialogs.h"

namespace {

std::string g_url;

class SilentDialogs : public ventari::Dialogs {
 public:
  void ShowMessage(const std::string&) override {}
  void ShowError(const std::string&) override {}
  void ShowMailError(int) override {}
};

void BM_FetchPage(benchmark::State& state) {
  ventari::TNMHTTP http;
  SilentDialogs dialogs;
  std::string header, body;
  for (auto _ : state) {
    if (!ventari::FetchPage(http, dialogs, g_url, {}, {}, false, header, body)) {
      state.SkipWithError("fetch failed");
      break;
    }
    benchmark::DoNotOptimize(body);
  }
}
BENCHMARK(BM_FetchPage)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// One curl process per fetch: what a script calling curl would pay.
void BM_CurlProcess(benchmark::State& state) {
  for (auto _ : state) {
    QProcess curl;
    curl.setStandardOutputFile(QProcess::nullDevice());
    curl.start(QStringLiteral("curl"),
               QStringList{QStringLiteral("-sf"), QString::fromStdString(g_url)});
    if (!curl.waitForFinished(30000) || curl.exitCode() != 0) {
      state.SkipWithError("curl failed");
      break;
    }
  }
}
BENCHMARK(BM_CurlProcess)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Many fetches in one curl process: the transfer alone, process start spread over the batch.
constexpr int kBatch = 50;
void BM_CurlBatchPerFetch(benchmark::State& state) {
  QStringList args{QStringLiteral("-sf")};
  for (int i = 0; i < kBatch; ++i) args << QString::fromStdString(g_url);
  for (auto _ : state) {
    QProcess curl;
    curl.setStandardOutputFile(QProcess::nullDevice());
    curl.start(QStringLiteral("curl"), args);
    if (!curl.waitForFinished(60000) || curl.exitCode() != 0) {
      state.SkipWithError("curl failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_CurlBatchPerFetch)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);

  QProcess server;
  server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  server.start(QStringLiteral("/usr/bin/python3"),
               QStringList{QStringLiteral("-u"),
                           QStringLiteral(VENTARI_SOURCE_DIR "/tests/fetch/league_server.py")});
  while (server.waitForStarted(30000) && !server.canReadLine() && server.waitForReadyRead(30000)) {
  }
  const int port = server.readLine().trimmed().toInt();
  if (port <= 0) {
    std::fprintf(stderr, "the league server did not start\n");
    return 1;
  }
  g_url =
      "http://127.0.0.1:" + std::to_string(port) + "/ligue/travail/ventari.php/nextdl?jeu=alpha";

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  server.kill();
  server.waitForFinished(30000);
  return 0;
}
