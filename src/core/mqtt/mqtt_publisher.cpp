#include "core/mqtt/mqtt_publisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <utility>

#include "core/mqtt/broker_url.h"
#include "core/mqtt/mosquitto_client.h"
#include "core/mqtt/topics.h"

namespace pyranex {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kKeepAliveSeconds = 30;
constexpr auto kConnackTimeout = std::chrono::seconds(10);
// Messages handed to libmosquitto and not yet acknowledged. Beyond this the records wait in our
// own bounded queue, where the oldest can be dropped; libmosquitto's queue has no bound.
constexpr int kMaxInFlight = 200;
constexpr int kQos = 1;

enum class Connection { Down, Connecting, Connected };

}  // namespace

struct MqttPublisher::Impl {
  Impl(MqttSettings s, BrokerAddress a) : settings(std::move(s)), address(std::move(a)) {}

  ~Impl() {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  // --- any thread, under `mutex` -----------------------------------------------------------
  mutable std::mutex mutex;
  std::condition_variable idleChanged;
  std::deque<LiveRecord> queue;
  std::optional<InverterIdentity> latestIdentity;
  std::optional<LinkReport> latestLink;
  bool linkChanged = false;
  bool stopRequested = false;
  SteadyClock::time_point stopDeadline;
  uint64_t dropped = 0;
  uint64_t published = 0;
  uint64_t unsent = 0;
  MqttState state = MqttState::Connecting;
  std::string lastError;
  bool loginRefused = false;
  SteadyClock::time_point retryAt;
  bool idle = false;  // connected, queue empty, everything acknowledged

  // --- network thread only -----------------------------------------------------------------
  const MqttSettings settings;
  const BrokerAddress address;
  MosquittoPtr client;
  int wakeFd = -1;
  Connection connection = Connection::Down;
  SteadyClock::time_point connectStarted;
  SteadyClock::time_point nextAttempt;
  unsigned failures = 0;
  int inFlight = 0;
  TopicLayout layout;  // of the current connection
  std::optional<InverterIdentity> announced;
  bool justConnected = false;
  bool discoveryDue = false;
  std::minstd_rand jitter{std::random_device{}()};
  std::string lastLogError;  // libmosquitto's own words for a failure (OpenSSL's, say)

  std::thread thread;

  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
  }

  void SetState(MqttState newState) {
    std::lock_guard lock(mutex);
    state = newState;
  }

  // --- libmosquitto callbacks (inside mosquitto_loop, on the network thread) ---------------
  static Impl& Of(void* userdata) { return *static_cast<Impl*>(userdata); }

  static void OnConnect(mosquitto*, void* userdata, int rc) {
    Impl& self = Of(userdata);
    if (rc == 0) {
      self.connection = Connection::Connected;
      self.failures = 0;
      self.justConnected = true;
      std::lock_guard lock(self.mutex);
      self.state = MqttState::Connected;
      self.lastError.clear();
      self.loginRefused = false;
      return;
    }
    // The broker said no: wrong password, unknown user, not authorised.
    self.ConnectionEnded(mosquitto_connack_string(rc), rc == 4 || rc == 5);
  }

  static void OnDisconnect(mosquitto*, void* userdata, int rc) {
    Impl& self = Of(userdata);
    if (self.connection == Connection::Down) return;  // already told why
    self.ConnectionEnded(rc == 0 ? std::string("disconnected") : self.ErrorText(rc), false);
  }

  static void OnPublish(mosquitto*, void* userdata, int) {
    Impl& self = Of(userdata);
    if (self.inFlight > 0) --self.inFlight;
  }

  static void OnMessage(mosquitto*, void* userdata, const mosquitto_message* message) {
    Impl& self = Of(userdata);
    const std::string_view payload(static_cast<const char*>(message->payload),
                                   static_cast<size_t>(message->payloadlen));
    if (message->topic == kHomeAssistantStatusTopic && payload == "online") {
      self.discoveryDue = true;
    }
  }

  static void OnLog(mosquitto*, void* userdata, int level, const char* text) {
    if (level == MOSQ_LOG_ERR && text != nullptr) Of(userdata).lastLogError = text;
  }

  std::string ErrorText(int rc) {
    std::string text = MosquittoErrorText(rc);
    if (rc == MOSQ_ERR_TLS && !lastLogError.empty()) text += ": " + lastLogError;
    return text;
  }

  // --- network thread ----------------------------------------------------------------------
  void ConnectionEnded(std::string why, bool refused) {
    connection = Connection::Down;
    ++failures;
    const milliseconds delay =
        ReconnectDelay(failures, std::uniform_real_distribution<double>(0, 1)(jitter));
    nextAttempt = SteadyClock::now() + delay;
    std::lock_guard lock(mutex);
    state = MqttState::Retrying;
    lastError = std::move(why);
    loginRefused = refused;
    retryAt = nextAttempt;
    idle = false;
  }

  // The base topic for the next connection; nothing while it needs a serial number not known yet.
  std::optional<std::string> BaseTopic() {
    if (!settings.baseTopic.empty()) return settings.baseTopic;
    std::lock_guard lock(mutex);
    if (!latestIdentity) return std::nullopt;
    return BaseTopicFor({}, latestIdentity->serialNumber);
  }

  void TryConnect() {
    const std::optional<std::string> base = BaseTopic();
    if (!base) {
      SetState(MqttState::WaitingForInverter);
      return;
    }
    layout = TopicLayout{*base};
    const std::string will = layout.Availability();
    mosquitto_will_set(client.get(), will.c_str(), 7, "offline", kQos, true);
    lastLogError.clear();
    SetState(MqttState::Connecting);
    const int rc = mosquitto_connect_async(client.get(), address.host.c_str(), address.port,
                                           kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
      ConnectionEnded(ErrorText(rc), false);
      return;
    }
    connection = Connection::Connecting;
    connectStarted = SteadyClock::now();
  }

  bool Publish(const MqttMessage& message) {
    int mid = 0;
    const int rc = mosquitto_publish(client.get(), &mid, message.topic.c_str(),
                                     static_cast<int>(message.payload.size()),
                                     message.payload.data(), kQos, message.retain);
    if (rc != MOSQ_ERR_SUCCESS) return false;
    ++inFlight;
    return true;
  }

  void PublishAll(const std::vector<MqttMessage>& messages) {
    for (const MqttMessage& message : messages) Publish(message);
  }

  // Identity, discovery and link, as due; then queued records while the window allows.
  void Pump() {
    std::optional<InverterIdentity> identity;
    std::optional<LinkReport> link;
    {
      std::lock_guard lock(mutex);
      identity = latestIdentity;
      if (linkChanged || justConnected) link = latestLink;
      linkChanged = false;
    }
    if (justConnected) {
      justConnected = false;
      Publish({layout.Availability(), "online", true});
      if (settings.discovery) {
        mosquitto_subscribe(client.get(), nullptr, std::string(kHomeAssistantStatusTopic).c_str(),
                            kQos);
        discoveryDue = true;
      }
      announced.reset();
    }
    if (identity && identity != announced) {
      if (settings.baseTopic.empty() && announced &&
          identity->serialNumber != announced->serialNumber) {
        // Another serial number means another base topic, with its own last will.
        Rebase(*announced);
        return;
      }
      if (settings.discovery && announced && identity->serialNumber != announced->serialNumber) {
        PublishAll(DiscoveryRemovals(*announced));
      }
      Publish({layout.Identity(), IdentityPayload(*identity), true});
      announced = identity;
      discoveryDue = true;
    }
    if (discoveryDue && settings.discovery && announced) {
      PublishAll(DiscoveryMessages(layout, *announced));
      discoveryDue = false;
    }
    if (link) Publish({layout.Link(), LinkPayload(*link), true});

    while (inFlight < kMaxInFlight) {
      LiveRecord record;
      {
        std::lock_guard lock(mutex);
        if (queue.empty()) break;
        record = std::move(queue.front());
        queue.pop_front();
        ++published;
      }
      PublishAll(RecordMessages(layout, record));
    }
  }

  void Rebase(const InverterIdentity& old) {
    if (settings.discovery) PublishAll(DiscoveryRemovals(old));
    Publish({layout.Availability(), "offline", true});
    mosquitto_disconnect(client.get());
    connection = Connection::Down;
    failures = 0;
    nextAttempt = SteadyClock::now();
  }

  void UpdateIdle() {
    std::lock_guard lock(mutex);
    const bool nowIdle = connection == Connection::Connected && queue.empty() && inFlight == 0 &&
                         !linkChanged && !discoveryDue;
    if (nowIdle != idle) {
      idle = nowIdle;
      idleChanged.notify_all();
    }
  }

  // One round of the network: read and write what the socket allows, keep-alive, callbacks.
  void Service(milliseconds wait) {
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    const int socket = mosquitto_socket(client.get());
    if (connection != Connection::Down && socket >= 0) {
      fds[1] = {socket,
                static_cast<short>(POLLIN | (mosquitto_want_write(client.get()) ? POLLOUT : 0)), 0};
      count = 2;
    }
    ::poll(fds, count, static_cast<int>(wait.count()));
    if (fds[0].revents & POLLIN) {
      uint64_t value = 0;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd, &value, sizeof value);
    }
    if (connection != Connection::Down) {
      const int rc = mosquitto_loop(client.get(), 0, 1);
      if (rc != MOSQ_ERR_SUCCESS && connection != Connection::Down) {
        ConnectionEnded(ErrorText(rc), false);
      }
    }
  }

  milliseconds WaitFor() const {
    if (connection != Connection::Down) return milliseconds(1000);
    const auto left =
        std::chrono::duration_cast<milliseconds>(nextAttempt - SteadyClock::now()).count();
    return milliseconds(std::clamp<int64_t>(left, 0, 1000));
  }

  void Run() {
    pthread_setname_np(pthread_self(), "mqtt publisher");
    for (;;) {
      {
        std::lock_guard lock(mutex);
        if (stopRequested) break;
      }
      const auto now = SteadyClock::now();
      if (connection == Connection::Down && now >= nextAttempt) TryConnect();
      if (connection == Connection::Connecting && now - connectStarted > kConnackTimeout) {
        mosquitto_disconnect(client.get());
        ConnectionEnded("no answer from the broker", false);
      }
      if (connection == Connection::Connected) Pump();
      UpdateIdle();
      Service(WaitFor());
    }
    Finish();
  }

  // Stop: what is queued goes out while the deadline allows, then "offline", then goodbye.
  void Finish() {
    SteadyClock::time_point deadline;
    {
      std::lock_guard lock(mutex);
      deadline = stopDeadline;
    }
    if (connection == Connection::Connected) {
      for (;;) {
        Pump();
        bool empty = false;
        {
          std::lock_guard lock(mutex);
          empty = queue.empty();
        }
        if ((empty && inFlight == 0) || connection != Connection::Connected ||
            SteadyClock::now() >= deadline) {
          break;
        }
        Service(milliseconds(20));
      }
      if (connection == Connection::Connected) {
        Publish({layout.Availability(), "offline", true});
        while (inFlight > 0 && connection == Connection::Connected &&
               SteadyClock::now() < deadline) {
          Service(milliseconds(20));
        }
        mosquitto_disconnect(client.get());
        mosquitto_loop(client.get(), 0, 1);
      }
    }
    connection = Connection::Down;
    std::lock_guard lock(mutex);
    unsent += queue.size();
    queue.clear();
    state = MqttState::Stopped;
    idle = false;
    idleChanged.notify_all();
  }
};

MqttPublisher::MqttPublisher(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<MqttPublisher> MqttPublisher::Start(MqttSettings settings, std::string* error) {
  std::optional<BrokerAddress> address = ParseBrokerUrl(settings.url, error);
  if (!address) return nullptr;
  if (!settings.baseTopic.empty()) {
    if (std::string why = CheckBaseTopic(settings.baseTopic); !why.empty()) {
      *error = why;
      return nullptr;
    }
  }
  if (settings.queueCapacity == 0) settings.queueCapacity = 1;
  auto impl = std::make_unique<Impl>(std::move(settings), *address);
  impl->client = MakeMosquittoClient(impl->settings, impl->address, impl.get(), error);
  if (!impl->client) return nullptr;
  impl->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl->wakeFd < 0) {
    *error = "cannot make the publisher's wake-up event";
    return nullptr;
  }
  mosquitto_connect_callback_set(impl->client.get(), &Impl::OnConnect);
  mosquitto_disconnect_callback_set(impl->client.get(), &Impl::OnDisconnect);
  mosquitto_publish_callback_set(impl->client.get(), &Impl::OnPublish);
  mosquitto_message_callback_set(impl->client.get(), &Impl::OnMessage);
  mosquitto_log_callback_set(impl->client.get(), &Impl::OnLog);
  impl->nextAttempt = SteadyClock::now();
  Impl* raw = impl.get();
  raw->thread = std::thread([raw] { raw->Run(); });
  return std::unique_ptr<MqttPublisher>(new MqttPublisher(std::move(impl)));
}

MqttPublisher::~MqttPublisher() {
  Stop();
}

void MqttPublisher::Accept(const LiveRecord& record) {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopRequested) return;
    if (impl_->queue.size() >= impl_->settings.queueCapacity) {
      impl_->queue.pop_front();
      ++impl_->dropped;
    }
    impl_->queue.push_back(record);
    const InverterIdentity identity = IdentityOf(record);
    if (impl_->latestIdentity != identity) impl_->latestIdentity = identity;
    impl_->idle = false;
  }
  impl_->Wake();
}

void MqttPublisher::SetLink(const LinkReport& link) {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->latestLink && impl_->latestLink->condition == link.condition) return;
    impl_->latestLink = link;
    impl_->linkChanged = true;
    impl_->idle = false;
  }
  impl_->Wake();
}

MqttStatus MqttPublisher::Status() const {
  std::lock_guard lock(impl_->mutex);
  MqttStatus status;
  status.state = impl_->state;
  status.broker = FormatBrokerAddress(impl_->address);
  status.lastError = impl_->lastError;
  status.loginRefused = impl_->loginRefused;
  status.queued = impl_->queue.size();
  status.capacity = impl_->settings.queueCapacity;
  status.dropped = impl_->dropped;
  status.published = impl_->published;
  status.unsent = impl_->unsent;
  if (impl_->state == MqttState::Retrying) {
    status.retryIn =
        std::max(milliseconds(0),
                 std::chrono::duration_cast<milliseconds>(impl_->retryAt - SteadyClock::now()));
  }
  return status;
}

void MqttPublisher::Stop(std::chrono::milliseconds limit) {
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->stopRequested) {
      impl_->stopRequested = true;
      impl_->stopDeadline = SteadyClock::now() + limit;
    }
  }
  impl_->Wake();
  if (impl_->thread.joinable()) impl_->thread.join();
}

bool MqttPublisher::WaitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(impl_->mutex);
  return impl_->idleChanged.wait_for(lock, limit, [this] { return impl_->idle; });
}

}  // namespace pyranex
