// Start-up of the window against the floor of a minimal Qt Widgets main window (menu, tool bar,
// tabs, status bar), both on the same X server in the same run, alternately, so that a noisy
// machine weighs on both alike. Each run is timed from just before the process is started to
// the X server's MapNotify of its top-level window, seen by this X client (no polling). The
// ratio of the medians is the goal (at most 1.3).
//
//   DISPLAY=:n bench_startup_map --program <exe> --floor <exe> --dir <working folder>
//
// bench/gui/startup-run starts Xvfb and a working folder with the run-time files.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <poll.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_program, g_floor, g_dir;

using Clock = std::chrono::steady_clock;

// Milliseconds from starting `exe` to the MapNotify of its first top-level window; a negative
// value when it did not map one within the time allowed.
double StartToMapped(const std::string& exe) {
  // Right after a client went away the server may refuse for a moment: try again.
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  for (int i = 0; i < 100 && xcb_connection_has_error(connection); ++i) {
    xcb_disconnect(connection);
    usleep(20000);
    connection = xcb_connect(nullptr, nullptr);
  }
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "cannot connect to the X server\n");
    xcb_disconnect(connection);
    return -1;
  }
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_void_cookie_t cookie =
      xcb_change_window_attributes_checked(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
  if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
    std::fprintf(stderr, "cannot watch the root window: X error %d\n", error->error_code);
    std::free(error);
    xcb_disconnect(connection);
    return -1;
  }

  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(g_dir.c_str()) != 0) _exit(127);
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  double ms = -1;
  const Clock::time_point deadline = start + std::chrono::seconds(20);
  pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
  while (ms < 0 && Clock::now() < deadline) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
      if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (!map->override_redirect && ms < 0) {
          ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
      }
      std::free(event);
    }
    if (ms < 0) poll(&fd, 1, 50);
  }
  kill(child, SIGTERM);
  int status = 0;
  for (int i = 0; i < 200 && waitpid(child, &status, WNOHANG) == 0; ++i) usleep(10000);
  if (waitpid(child, &status, WNOHANG) == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  xcb_disconnect(connection);
  return ms;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_StartToMappedWindow(benchmark::State& state) {
  // Once each unmeasured: libraries, fonts and pictures come from the page cache from here on.
  if (StartToMapped(g_floor) < 0 || StartToMapped(g_program) < 0) {
    state.SkipWithError("a window was not mapped (is DISPLAY an X server?)");
    return;
  }
  std::vector<double> program, floor;
  for (auto _ : state) {
    // Alternately first, so neither always finds the caches warmed by the other.
    const bool floorFirst = program.size() % 2 == 0;
    const double f1 = floorFirst ? StartToMapped(g_floor) : 0;
    const double p = StartToMapped(g_program);
    const double f = floorFirst ? f1 : StartToMapped(g_floor);
    if (p < 0 || f < 0) {
      state.SkipWithError("a window was not mapped (is DISPLAY an X server?)");
      return;
    }
    program.push_back(p);
    floor.push_back(f);
    state.SetIterationTime(p / 1e3);
  }
  state.counters["program_ms"] = Median(program);
  state.counters["floor_ms"] = Median(floor);
  state.counters["program_min_ms"] = *std::min_element(program.begin(), program.end());
  state.counters["floor_min_ms"] = *std::min_element(floor.begin(), floor.end());
  state.counters["ratio"] = Median(program) / Median(floor);
}
BENCHMARK(BM_StartToMappedWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(31);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--program") g_program = argv[i + 1];
    if (option == "--floor") g_floor = argv[i + 1];
    if (option == "--dir") g_dir = argv[i + 1];
  }
  if (g_program.empty() || g_floor.empty() || g_dir.empty()) {
    std::fprintf(stderr, "usage: bench_startup_map --program EXE --floor EXE --dir FOLDER\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
