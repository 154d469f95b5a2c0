#include "inverter_simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>

#include "pty_line.h"
#include "request_framer.h"
#include "traffic_text.h"

namespace pyranex::sim {

namespace {

using SteadyClock = std::chrono::steady_clock;

double LocalSecondOfDay() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
}

}  // namespace

struct InverterSimulator::Impl {
  explicit Impl(SimulatorConfig c)
      : config(std::move(c)),
        // Both address widths are always recognised, so requests in a framing the inverter
        // does not answer are still recorded.
        framer(true, true),
        model(config.identity,
              config.startSecondOfDay >= 0 ? config.startSecondOfDay : LocalSecondOfDay()) {}

  ~Impl() {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void Run();
  void Serve(const RequestFramer::Item& item);
  void WriteReply(const std::vector<uint8_t>& bytes);
  void GoDown(std::chrono::milliseconds downTime);
  bool ComeBack();
  // Waits for `duration` unless woken; true when the simulator is stopping.
  bool PauseFor(std::chrono::milliseconds duration);
  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
  }
  void DrainWake() {
    uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(wakeFd, &count, sizeof count);
  }
  void AdvanceModel() const {
    const std::chrono::duration<double> elapsed = SteadyClock::now() - startTime;
    model.AdvanceTo(elapsed.count() * config.timeScale);
  }
  void Record(const char* tag, std::span<const uint8_t> bytes, std::string_view note = {}) {
    if (!recordFile.is_open()) return;
    recordFile << FormatTrafficLine(std::chrono::system_clock::now(), tag, bytes, note) << '\n';
    recordFile.flush();
  }

  SimulatorConfig config;
  int wakeFd = -1;
  std::thread thread;
  std::atomic<bool> stopping{false};
  SteadyClock::time_point startTime;

  // Serving-thread state.
  PtyLine line;
  RequestFramer framer;
  SteadyClock::time_point comeBackAt;
  std::ofstream recordFile;

  // Shared state, under `mutex`.
  mutable std::mutex mutex;
  mutable std::condition_variable recorded;
  mutable InverterModel model;
  FaultInjector injector;
  std::filesystem::path slavePath;
  bool lineUp = false;
  unsigned hangUps = 0;
  std::optional<std::chrono::milliseconds> hangUpRequest;
  std::vector<std::vector<uint8_t>> requests;
  std::vector<std::vector<uint8_t>> replies;
};

InverterSimulator::InverterSimulator(SimulatorConfig config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

InverterSimulator::~InverterSimulator() {
  Stop();
}

bool InverterSimulator::Start(std::string* error) {
  Impl& d = *impl_;
  if (d.thread.joinable()) return true;
  if (d.wakeFd < 0) d.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (d.wakeFd < 0) {
    if (error) *error = "eventfd failed";
    return false;
  }
  if (!d.line.Open(error)) return false;
  if (!PointComLink(d.config.portsDir, d.config.comNumber, d.line.SlavePath(), error)) {
    d.line.Close();
    return false;
  }
  if (!d.config.recordFile.empty()) {
    d.recordFile.open(d.config.recordFile, std::ios::app);
    if (!d.recordFile) {
      if (error) *error = "cannot write " + d.config.recordFile.string();
      d.line.Close();
      std::error_code ec;
      std::filesystem::remove(ComLinkPath(d.config.portsDir, d.config.comNumber), ec);
      return false;
    }
  }
  d.startTime = SteadyClock::now();
  {
    std::lock_guard lock(d.mutex);
    d.injector.Configure(d.config.faults, d.startTime);
    d.slavePath = d.line.SlavePath();
    d.lineUp = true;
  }
  d.stopping = false;
  d.Record("UP", {}, d.line.SlavePath().string());
  d.thread = std::thread([&d] { d.Run(); });
  return true;
}

void InverterSimulator::Stop() {
  Impl& d = *impl_;
  if (!d.thread.joinable()) return;
  d.stopping = true;
  d.Wake();
  d.thread.join();
  d.line.Close();
  {
    std::lock_guard lock(d.mutex);
    d.lineUp = false;
  }
  std::error_code ec;
  std::filesystem::remove(ComLinkPath(d.config.portsDir, d.config.comNumber), ec);
  d.Record("STOP", {});
  d.recordFile.close();
}

std::filesystem::path InverterSimulator::LinkPath() const {
  return ComLinkPath(impl_->config.portsDir, impl_->config.comNumber);
}

std::filesystem::path InverterSimulator::SlavePath() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->slavePath;
}

void InverterSimulator::SetFaults(const FaultConfig& faults) {
  std::lock_guard lock(impl_->mutex);
  impl_->injector.Configure(faults, SteadyClock::now());
}

FaultConfig InverterSimulator::Faults() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->injector.Config();
}

void InverterSimulator::HangUp(std::chrono::milliseconds downTime) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->hangUpRequest = downTime;
  }
  impl_->Wake();
}

bool InverterSimulator::IsLineUp() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->lineUp;
}

unsigned InverterSimulator::HangUpCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->hangUps;
}

std::vector<std::vector<uint8_t>> InverterSimulator::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

std::vector<std::vector<uint8_t>> InverterSimulator::Replies() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->replies;
}

void InverterSimulator::ClearRecords() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
  impl_->replies.clear();
  impl_->model.ClearWrites();
}

bool InverterSimulator::WaitForRequests(std::size_t count,
                                        std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->recorded.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

bool InverterSimulator::WaitForReplies(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->recorded.wait_for(lock, timeout, [&] { return impl_->replies.size() >= count; });
}

std::optional<uint16_t> InverterSimulator::InputRegister(unsigned number) const {
  std::lock_guard lock(impl_->mutex);
  impl_->AdvanceModel();
  return impl_->model.InputRegister(number);
}

std::optional<uint16_t> InverterSimulator::HoldingRegister(unsigned number) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->model.HoldingRegister(number);
}

uint8_t InverterSimulator::SlaveAddress() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->model.SlaveAddress();
}

uint64_t InverterSimulator::SerialNumber() const {
  std::lock_guard lock(impl_->mutex);
  return BcdToSerial(impl_->model.SerialBcd());
}

std::vector<SimWrite> InverterSimulator::Writes() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->model.Writes();
}

unsigned InverterSimulator::AutoTestCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->model.AutoTestCount();
}

void InverterSimulator::Impl::Run() {
  std::vector<uint8_t> chunk(512);
  while (!stopping) {
    std::optional<std::chrono::milliseconds> hangUp;
    {
      std::lock_guard lock(mutex);
      hangUp = std::exchange(hangUpRequest, std::nullopt);
    }
    if (hangUp) {
      GoDown(*hangUp);
      continue;
    }
    if (!line.IsOpen()) {
      const auto now = SteadyClock::now();
      if (now >= comeBackAt) {
        if (!ComeBack()) PauseFor(std::chrono::milliseconds(200));
      } else {
        PauseFor(std::chrono::duration_cast<std::chrono::milliseconds>(comeBackAt - now) +
                 std::chrono::milliseconds(1));
      }
      continue;
    }

    pollfd fds[2] = {{line.MasterFd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int timeout =
        framer.HasPendingBytes() ? static_cast<int>(config.interFrameGap.count()) : 500;
    const int ready = ::poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) DrainWake();
    if (ready == 0) {
      framer.OnSilence();
    } else if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(line.MasterFd(), chunk.data(), chunk.size());
      if (n > 0) framer.Feed(std::span<const uint8_t>(chunk.data(), static_cast<std::size_t>(n)));
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      // We hold the slave open ourselves, so this is transient; do not spin on it.
      PauseFor(std::chrono::milliseconds(20));
    }
    for (const auto& item : framer.TakeOutput()) {
      if (stopping || !line.IsOpen()) break;
      Serve(item);
    }
  }
}

void InverterSimulator::Impl::Serve(const RequestFramer::Item& item) {
  if (item.kind == RequestFramer::Item::Kind::Garbage) {
    Record("SKIP", item.bytes);
    return;
  }
  Record("RX", item.bytes);
  ReplyPlan plan;
  bool answered = false;
  {
    std::lock_guard lock(mutex);
    requests.push_back(item.bytes);
    AdvanceModel();
    Answer answer = Respond(model, item.bytes, item.addressLength, config.framing);
    if (answer.reply) {
      answered = true;
      plan = injector.Shape(std::move(*answer.reply), item.addressLength, answer.function,
                            answer.quantity, SteadyClock::now());
    }
  }
  recorded.notify_all();
  if (!answered) return;
  if (plan.delay.count() > 0) {
    if (PauseFor(plan.delay)) return;
    std::lock_guard lock(mutex);
    if (hangUpRequest) return;  // the line goes down before the late reply
  }
  if (plan.send) {
    WriteReply(plan.bytes);
  } else {
    Record("MUTE", {}, "reply withheld");
  }
  if (plan.hangUpAfter) GoDown(config.faults.hangUpFor);
}

void InverterSimulator::Impl::WriteReply(const std::vector<uint8_t>& bytes) {
  // Ten bits a character at 9600 baud.
  constexpr std::chrono::microseconds kCharacterTime{1042};
  const auto begin = SteadyClock::now();
  std::size_t written = 0;
  while (written < bytes.size()) {
    std::size_t chunk = bytes.size() - written;
    if (config.paceReplies) {
      std::this_thread::sleep_until(begin + kCharacterTime * static_cast<int64_t>(written));
      chunk = 1;
    }
    const ssize_t n = ::write(line.MasterFd(), bytes.data() + written, chunk);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // Nobody is reading the line; give it a moment, then drop the rest.
      pollfd out{line.MasterFd(), POLLOUT, 0};
      if (::poll(&out, 1, 100) > 0) continue;
    }
    break;
  }
  const std::vector<uint8_t> sent(bytes.begin(),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(written));
  Record("TX", sent, written < bytes.size() ? "line full, rest dropped" : "");
  {
    std::lock_guard lock(mutex);
    replies.push_back(sent);
  }
  recorded.notify_all();
}

void InverterSimulator::Impl::GoDown(std::chrono::milliseconds downTime) {
  {
    // Marked down before the line closes, so whoever sees the hang-up also sees it here.
    std::lock_guard lock(mutex);
    lineUp = false;
    ++hangUps;
  }
  line.Close();
  framer.OnSilence();
  framer.TakeOutput();
  comeBackAt = SteadyClock::now() + downTime;
  Record("DOWN", {}, "line closed for " + std::to_string(downTime.count()) + " ms");
}

bool InverterSimulator::Impl::ComeBack() {
  std::string error;
  if (!line.Open(&error) ||
      !PointComLink(config.portsDir, config.comNumber, line.SlavePath(), &error)) {
    line.Close();
    Record("DOWN", {}, "cannot come back: " + error);
    return false;
  }
  {
    std::lock_guard lock(mutex);
    slavePath = line.SlavePath();
    lineUp = true;
  }
  Record("UP", {}, line.SlavePath().string());
  return true;
}

bool InverterSimulator::Impl::PauseFor(std::chrono::milliseconds duration) {
  const auto until = SteadyClock::now() + duration;
  while (!stopping) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
    if (left.count() <= 0) return false;
    pollfd wake{wakeFd, POLLIN, 0};
    if (::poll(&wake, 1, static_cast<int>(left.count())) > 0) {
      DrainWake();
      // A hang-up request interrupts a pause; the loop picks it up.
      std::lock_guard lock(mutex);
      if (hangUpRequest) return false;
    }
  }
  return true;
}

}  // namespace pyranex::sim
