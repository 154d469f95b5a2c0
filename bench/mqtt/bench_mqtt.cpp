// From the end of a live cycle (the record handed to the publisher) to the message at a
// subscriber on the same machine, through a mosquitto broker on 127.0.0.1. Goal: under 10 ms at
// the median. The subscriber is libmosquitto's own threaded client.
#include <benchmark/benchmark.h>
#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/mqtt/mqtt_publisher.h"
#include "integration/mqtt/broker_fixture.h"

namespace {

using namespace pyranex;
using Clock = std::chrono::steady_clock;

// Remembers the time field of the last record that arrived.
struct Arrivals {
  std::mutex mutex;
  std::condition_variable arrived;
  std::string lastPayload;
  bool subscribed = false;
};

void OnMessage(mosquitto*, void* userdata, const mosquitto_message* message) {
  auto& arrivals = *static_cast<Arrivals*>(userdata);
  std::lock_guard lock(arrivals.mutex);
  arrivals.lastPayload.assign(static_cast<const char*>(message->payload),
                              static_cast<size_t>(message->payloadlen));
  arrivals.arrived.notify_all();
}

void OnSubscribe(mosquitto*, void* userdata, int, int, const int*) {
  auto& arrivals = *static_cast<Arrivals*>(userdata);
  std::lock_guard lock(arrivals.mutex);
  arrivals.subscribed = true;
  arrivals.arrived.notify_all();
}

void OnConnect(mosquitto* client, void*, int rc) {
  if (rc == 0) mosquitto_subscribe(client, nullptr, "bench/pv/record", 1);
}

void RecordToSubscriber(benchmark::State& state) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("pyranex-bench-mqtt-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  test::Broker broker(dir);
  if (!broker.Start()) {
    state.SkipWithError("mosquitto did not start");
    return;
  }
  Arrivals arrivals;
  mosquitto_lib_init();
  mosquitto* subscriber = mosquitto_new(nullptr, true, &arrivals);
  mosquitto_int_option(subscriber, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_callback_set(subscriber, OnConnect);
  mosquitto_message_callback_set(subscriber, OnMessage);
  mosquitto_subscribe_callback_set(subscriber, OnSubscribe);
  mosquitto_connect(subscriber, "127.0.0.1", broker.Port(), 30);
  mosquitto_loop_start(subscriber);
  {
    std::unique_lock lock(arrivals.mutex);
    arrivals.arrived.wait_for(lock, std::chrono::seconds(5), [&] { return arrivals.subscribed; });
  }

  MqttSettings settings;
  settings.url = broker.Url();
  settings.baseTopic = "bench/pv";
  std::string error;
  auto publisher = MqttPublisher::Start(settings, &error);
  LiveRecord record;
  record.serialNumber = "123456789012";
  record.firmwareVersion = "V5.00";
  record.ratedPower = 50;
  record.values.fill(123.4);
  record.time = 1'000'000'000;
  publisher->Accept(record);  // connects, announces itself, sends discovery
  publisher->WaitUntilIdle(std::chrono::seconds(10));

  std::vector<double> latencies;
  for (auto _ : state) {
    ++record.time;
    const std::string expected = "\"time\":\"" + FormatIso8601(record.time, 0) + "\"";
    const auto start = Clock::now();
    publisher->Accept(record);
    std::unique_lock lock(arrivals.mutex);
    const bool came = arrivals.arrived.wait_for(lock, std::chrono::seconds(5), [&] {
      return arrivals.lastPayload.find(expected) != std::string::npos;
    });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    lock.unlock();
    if (!came) {
      state.SkipWithError("a record did not arrive");
      break;
    }
    state.SetIterationTime(seconds);
    latencies.push_back(seconds * 1e3);
    // Records come about once a second; do not let one wait behind the last one's retained values.
    publisher->WaitUntilIdle(std::chrono::seconds(5));
  }
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["p90_ms"] = latencies[latencies.size() * 9 / 10];
    state.counters["max_ms"] = latencies.back();
  }
  publisher->Stop();
  mosquitto_disconnect(subscriber);
  mosquitto_loop_stop(subscriber, false);
  mosquitto_destroy(subscriber);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(RecordToSubscriber)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
