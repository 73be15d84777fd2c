// quorvane serve: the conversion server (service/server.hpp) as a command.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "command.hpp"
#include "output.hpp"
#include "service/log.hpp"
#include "service/server.hpp"
#include "signals.hpp"

namespace quorvane::cli {
namespace {

constexpr const char* kRenderWorkersVariable = "QUORVANE_RENDER_WORKERS";
constexpr const char* kTokenVariable = "QUORVANE_TOKEN";

struct ServeOptions {
  int jobs = 2;
  std::string host = "127.0.0.1";
  int port = 8080;
  bool noHttp = false;
  std::string socket;
  std::uint64_t maxUploadMib = 100;
  std::size_t queue = 16;
  int deadline = 300;
  int grace = 30;
  std::string tokenFile;
};

// The first line of a token file, without the white space around it.
std::string ReadToken(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read the token file '" + path + "'");
  std::string token;
  std::getline(in, token);
  const auto first = token.find_first_not_of(" \t\r\n");
  const auto last = token.find_last_not_of(" \t\r\n");
  token = first == std::string::npos ? "" : token.substr(first, last - first + 1);
  if (token.empty()) throw std::runtime_error("the token file '" + path + "' holds no token");
  return token;
}

int RunServe(const ServeOptions& options) {
  service::ServerOptions server;
  server.workers = static_cast<std::size_t>(options.jobs);
  server.host = options.host;
  server.port = options.port;
  server.http = !options.noHttp;
  server.socketPath = options.socket;
  server.maxUploadBytes = options.maxUploadMib << 20;
  server.queueLength = options.queue;
  server.deadline = std::chrono::seconds(options.deadline);
  server.grace = std::chrono::seconds(options.grace);
  try {
    if (!options.tokenFile.empty()) {
      server.token = ReadToken(options.tokenFile);
    } else if (const char* token = std::getenv(kTokenVariable); token != nullptr) {
      server.token = token;
    }
    // Each worker has an office of its own.
    ::setenv(kRenderWorkersVariable, std::to_string(options.jobs).c_str(), 1);
    service::Server running(server);
    DrainOnSignal([&running](int signal, pid_t sender) {
      service::LogLine("info", "signal", {{"signal", ::sigabbrev_np(signal)}, {"sender_pid", sender}});
      running.Drain();
    });
    running.Run();
    DrainOnSignal(nullptr);
  } catch (const std::runtime_error& error) {
    std::cerr << kProgram << " serve: " << Printable(error.what()) << "\n";
    return kExitUnavailable;
  }
  return kExitOk;
}

}  // namespace

Command AddServe(CLI::App& root) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* app = root.add_subcommand(
      "serve",
      "Keep offices warm and convert for others: through a local socket that 'quorvane convert' uses by itself, "
      "and over HTTP.");
  app->add_option("-j,--jobs", options->jobs, "conversions at once, each with an office of its own (default 2)")
      ->type_name("N")
      ->check(CLI::Range(1, 64));
  app->add_option("--host", options->host, "the address HTTP listens on (default 127.0.0.1)")->type_name("ADDR");
  app->add_option("--port", options->port, "the HTTP port (default 8080; 0: any free port, told in the log)")
      ->type_name("N")
      ->check(CLI::Range(0, 65535));
  app->add_flag("--no-http", options->noHttp, "only the local socket");
  app->add_option("--socket", options->socket,
                  "the local socket (default $XDG_RUNTIME_DIR/quorvane/serve.sock, else "
                  "/tmp/quorvane-UID/serve.sock); - for none")
      ->type_name("PATH");
  app->add_option("--max-upload-mib", options->maxUploadMib, "the largest upload taken (default 100)")
      ->type_name("MIB")
      ->check(CLI::Range(1, 1 << 16));
  app->add_option("--queue", options->queue,
                  "HTTP requests that may wait for a worker (default 16); beyond them the answer is 503")
      ->type_name("N")
      ->check(CLI::Range(0, 10000));
  app->add_option("--deadline", options->deadline, "what one HTTP request may take, in seconds (default 300)")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 86400));
  app->add_option("--grace", options->grace,
                  "on SIGTERM or SIGINT: how long running conversions may still take, in seconds (default 30)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0, 86400));
  app->add_option("--token-file", options->tokenFile,
                  "require 'Authorization: Bearer TOKEN' (TOKEN: the file's first line) on every endpoint but "
                  "/health and /ready; without it, the variable QUORVANE_TOKEN")
      ->type_name("FILE");
  app->footer(
      "Endpoints: POST /convert (multipart: file, type, start, end, labels, notes, notes-only, multi-file),\n"
      "GET /formats, /errors, /health, /ready, /metrics. Logs: one JSON object per line on standard error.\n"
      "A second SIGTERM or SIGINT ends at once. Exit status: 0 after a drain, 69 a door cannot be opened.\n"
      "Examples:\n"
      "  quorvane serve &\n"
      "  curl -F file=@deck.pptx -F type=pdf http://127.0.0.1:8080/convert -o deck.pdf\n"
      "  quorvane convert deck.pptx deck.pdf        # converted by the server");
  return {app, [options] { return RunServe(*options); }};
}

}  // namespace quorvane::cli
