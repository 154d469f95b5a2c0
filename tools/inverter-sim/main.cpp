// inverter-sim: the simulated inverter on a pseudo-terminal, from the command line.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "inverter_simulator.h"
#include "sim_options.h"

namespace {

using pyranex::sim::InverterSimulator;

// One command typed while running: a fault option without its dashes, or "hang-up S".
void RunCommand(InverterSimulator& sim, const std::string& line) {
  std::string name = line;
  std::string value;
  if (const auto space = line.find(' '); space != std::string::npos) {
    name = line.substr(0, space);
    value = line.substr(space + 1);
  }
  if (name.empty()) return;
  if (name == "hang-up") {
    double seconds = 3;
    if (!value.empty()) seconds = std::strtod(value.c_str(), nullptr);
    sim.HangUp(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
    std::cout << "OK hang-up" << std::endl;
    return;
  }
  auto faults = sim.Faults();
  std::string error;
  if (!pyranex::sim::ApplyFaultOption(name, value, &faults, &error)) {
    std::cout << "ERROR " << error << std::endl;
    return;
  }
  sim.SetFaults(faults);
  std::cout << "OK " << line << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  pyranex::sim::SimOptions options;
  std::string error;
  if (!pyranex::sim::ParseSimOptions(args, &options, &error)) {
    std::cerr << "inverter-sim: " << error << "\n(try --help)\n";
    return 2;
  }
  if (options.help) {
    std::cout << pyranex::sim::SimUsage();
    return 0;
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts
  const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

  InverterSimulator sim(options.config);
  if (!sim.Start(&error)) {
    std::cerr << "inverter-sim: " << error << '\n';
    return 1;
  }
  std::cout << "READY " << sim.LinkPath().string() << " -> " << sim.SlavePath().string()
            << std::endl;

  bool stdinOpen = true;
  std::string pending;
  for (;;) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      char buffer[256];
      const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) {
        stdinOpen = false;
        continue;
      }
      pending.append(buffer, static_cast<std::size_t>(n));
      for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        RunCommand(sim, line);
      }
    }
  }
  sim.Stop();
  if (signalFd >= 0) ::close(signalFd);
  return 0;
}
