// tev-web: the PVR's page for people, served over HTTP, a client of the
// bus like velctl.
//
//   tev-web [--listen 127.0.0.1:8080] [--password-file FILE] [--host BUS]
//           [--settings FILE]
//
// Listening on an address other than loopback needs --password-file. Ends
// on SIGINT or SIGTERM. Exit codes: 0 stopped, 2 bad command line, 1 the
// address cannot be bound.
#include <signal.h>

#include <iostream>
#include <thread>

#include <CLI/CLI.hpp>

#include "web/ServerOptions.h"
#include "web/WebServer.h"

int main(int argc, char** argv) {
  web::ServerOptions options;
  options.bus.timeoutMs = 10000;
  CLI::App app{"tev-web: the PVR's web page (guide, upcoming, recordings, series, settings)"};
  app.add_option("--listen", options.listen, "address and port to serve on")->capture_default_str();
  app.add_option("--password-file", options.passwordFile,
                 "file whose first line is the page's password (needed beyond loopback)");
  app.add_option("--allow-host", options.allowHosts,
                 "another host name the page is reached by while listening on loopback");
  app.add_option("--host", options.bus.host, "bus server, host or host:port")->capture_default_str();
  app.add_option("--settings", options.bus.settings,
                 "settings file with the bus credentials (default $TEV_REGISTRY_FILE or /etc/tev/registry.ini)");
  app.add_option("--timeout", options.bus.timeoutMs, "milliseconds to wait for each answer on the bus")
      ->check(CLI::Range(100, 120000))
      ->capture_default_str();
  app.add_option("--poll", options.pollMs, "milliseconds between listings of the media library")
      ->check(CLI::Range(100, 60000))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  web::ListenAddress address;
  std::string error, password;
  if (!web::ParseListen(options.listen, &address, &error)) {
    std::cerr << "tev-web: " << error << "\n";
    return 2;
  }
  if (!options.passwordFile.empty() && !web::ReadPassword(options.passwordFile, &password, &error)) {
    std::cerr << "tev-web: " << error << "\n";
    return 2;
  }
  if (!web::IsLoopback(address.host) && password.empty()) {
    std::cerr << "tev-web: listening on " << address.host
              << " lets other machines in: give --password-file FILE\n";
    return 2;
  }
  if (options.bus.name.empty()) options.bus.name = "tev-web-" + std::to_string(getpid());

  // Signals are taken by the waiting thread below; every thread inherits the mask.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  web::WebServer server(options, address, password);
  if (!server.Bind(&error)) {
    std::cerr << "tev-web: " << error << "\n";
    return 1;
  }
  const bool v6 = address.host.find(':') != std::string::npos;
  std::cout << "tev-web: serving http://" << (v6 ? "[" + address.host + "]" : address.host) << ":"
            << address.port << "/" << std::endl;
  std::thread waiter([&server, stop] {
    int received = 0;
    sigwait(&stop, &received);
    server.Shutdown();
  });
  server.Run();
  // Run also ends when the server fails: the waiter is woken the same way.
  kill(getpid(), SIGTERM);
  waiter.join();
  return 0;
}
