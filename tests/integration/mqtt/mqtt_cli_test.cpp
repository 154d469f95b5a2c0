// pyranex-cli poll --mqtt against a real broker, with the simulated inverter on a pty and an
// independent subscriber (mosquitto_sub); payloads are read with an independent JSON parser.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <utility>

#include "broker_fixture.h"
#include "inverter_simulator.h"
#include "sim_start.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr unsigned kCom = 4;
const std::string kBase = "pyranex/123456789012";

// "2026-12-08T16:17:41+01:00" in seconds.
int64_t Seconds(const std::string& text) {
  std::tm t{};
  int offsetHours = 0;
  int offsetMinutes = 0;
  char sign = '+';
  if (std::sscanf(text.c_str(), "%d-%d-%d%*c%d%*c%d%*c%d%c%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                  &t.tm_hour, &t.tm_min, &t.tm_sec, &sign, &offsetHours, &offsetMinutes) < 6) {
    return -1;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const int64_t offset = (offsetHours * 3600 + offsetMinutes * 60) * (sign == '-' ? -1 : 1);
  return static_cast<int64_t>(timegm(&t)) - offset;
}

// The time column of a CSV row ("2026-12-08 16-17-41", local time) in seconds.
int64_t CsvSeconds(const std::string& row) {
  std::tm t{};
  if (std::sscanf(row.c_str(), "%d-%d-%d %d-%d-%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec) != 6) {
    return -1;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&t));
}

std::vector<std::string> CsvRows(const std::string& out) {
  std::vector<std::string> rows;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '"') rows.push_back(line);
  }
  return rows;
}

// The live record as the simulator sent it: registers 11 to 41 of each 31-register reply.
std::vector<json> LiveRepliesOf(const sim::InverterSimulator& simulator) {
  std::vector<json> values;
  for (const auto& reply : simulator.Replies()) {
    if (reply.size() != 67 || reply[1] != 0x04 || reply[2] != 62) continue;
    auto r = [&](unsigned n) {
      return unsigned(reply[3 + 2 * (n - 11)] << 8 | reply[4 + 2 * (n - 11)]);
    };
    auto r32 = [&](unsigned n) { return double(uint32_t(r(n)) << 16 | r(n + 1)); };
    values.push_back({{"udc", r(11) / 10.0},
                      {"uac", r(15) / 10.0},
                      {"frequency", r(21) / 100.0},
                      {"pac", r32(22)},  // firmware V5.00: watts as they are
                      {"e_today", r(24) / 10.0},
                      {"e_total", r32(25) / 10.0},
                      {"t_today", r32(27)},
                      {"t_total", r32(29)},
                      {"temperature", r(31) / 10.0},
                      {"dci", int16_t(r(35))},
                      {"state1", r32(39)},
                      {"state2", r(41)}});
  }
  return values;
}

class MqttCliTest : public ::testing::Test {
 protected:
  MqttCliTest() {
    dir_ = std::filesystem::temp_directory_path() /
           ("pyranex-mqtt-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    std::filesystem::copy_file(PYRANEX_CLI_PATH, dir_ / "pyranex-cli");
    sim::SimulatorConfig config;
    config.portsDir = dir_ / "ports";
    config.comNumber = kCom;
    config.startSecondOfDay = 11 * 3600;
    config.timeScale = 60;  // the counters move from one record to the next
    sim_ = std::make_unique<sim::InverterSimulator>(config);
    std::string error;
    EXPECT_TRUE(sim_->Start(&error)) << error;
  }
  ~MqttCliTest() override {
    sim_->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::vector<std::string> Cli(std::vector<std::string> args) {
    args.insert(args.begin(), {(dir_ / "pyranex-cli").string(), "poll", "COM4"});
    return args;
  }

  std::filesystem::path dir_;
  std::unique_ptr<sim::InverterSimulator> sim_;
  static inline int counter_ = 0;
};

TEST_F(MqttCliTest, EveryRecordOnceInOrderWithTheSimulatorsValuesAndDiscovery) {
  Broker broker(dir_);
  ASSERT_TRUE(broker.Start());
  Subscriber bus(broker.Port(), {kBase + "/#", "homeassistant/#"});
  ASSERT_TRUE(bus.WaitSubscribed(broker.Port()));

  ChildProcess cli(Cli({"--count", "6", "--mqtt", broker.Url()}));
  ASSERT_EQ(cli.Wait(40s), 0) << cli.Err();
  ASSERT_TRUE(bus.WaitFor([](const auto& all) {
    return !all.empty() && all.back().topic == kBase + "/availability" &&
           all.back().payload == "offline";
  })) << cli.Err();

  const auto records = bus.On(kBase + "/record");
  const auto replies = LiveRepliesOf(*sim_);
  const auto rows = CsvRows(cli.Out());
  ASSERT_EQ(records.size(), 6u);
  ASSERT_EQ(rows.size(), 6u);
  ASSERT_GE(replies.size(), 6u);
  for (size_t i = 0; i < records.size(); ++i) {
    const json record = json::parse(records[i].payload);
    EXPECT_EQ(Seconds(record["time"].get<std::string>()), CsvSeconds(rows[i])) << i;
    for (const auto& [key, value] : replies[i].items()) {
      EXPECT_NEAR(record[key].get<double>(), value.get<double>(), 1e-6)
          << "record " << i << " " << key;
    }
    EXPECT_EQ(record["units"]["temperature"], "°C");
  }
  const char* const states[] = {"Waiting", "Inverting", "Warning", "Fault"};
  const json& last = replies[records.size() - 1];
  EXPECT_EQ(bus.On(kBase + "/state").back().payload, states[last["state2"].get<int>() & 3]);
  EXPECT_EQ(bus.On(kBase + "/fault").back().payload,
            last["state1"] != 0 || last["state2"] == 3 ? "ON" : "OFF");
  EXPECT_EQ(json::parse(bus.On(kBase + "/identity").back().payload)["rated_power"], 5000);

  std::map<std::string, json> configs;
  for (const BusMessage& m : bus.Messages()) {
    if (m.topic.rfind("homeassistant/", 0) == 0) configs[m.topic] = json::parse(m.payload);
  }
  ASSERT_EQ(configs.size(), 14u);
  for (const auto& [topic, config] : configs) {
    EXPECT_EQ(config["unique_id"].get<std::string>().rfind("pyranex_123456789012_", 0), 0u)
        << topic;
    EXPECT_EQ(config["availability"][0]["topic"], kBase + "/availability") << topic;
    EXPECT_EQ(config["device"]["identifiers"][0], "pyranex_123456789012") << topic;
    EXPECT_EQ(config["device"]["sw_version"], "V5.00") << topic;
  }
  struct Expected {
    const char* key;
    const char* deviceClass;
    const char* unit;
    const char* stateClass;
  } const expected[] = {{"pac", "power", "W", "measurement"},
                        {"e_today", "energy", "kWh", "total_increasing"},
                        {"e_total", "energy", "kWh", "total_increasing"},
                        {"t_today", "duration", "min", "total_increasing"},
                        {"temperature", "temperature", "°C", "measurement"},
                        {"dci", "current", "mA", "measurement"},
                        {"frequency", "frequency", "Hz", "measurement"}};
  for (const Expected& e : expected) {
    const json& config =
        configs["homeassistant/sensor/pyranex_123456789012_" + std::string(e.key) + "/config"];
    EXPECT_EQ(config["state_topic"], kBase + "/" + e.key);
    EXPECT_EQ(config["device_class"], e.deviceClass) << e.key;
    EXPECT_EQ(config["unit_of_measurement"], e.unit) << e.key;
    EXPECT_EQ(config["state_class"], e.stateClass) << e.key;
  }
  const json& fault = configs["homeassistant/binary_sensor/pyranex_123456789012_fault/config"];
  EXPECT_EQ(fault["device_class"], "problem");
  EXPECT_EQ(fault["state_topic"], kBase + "/fault");

  // What a Home Assistant that starts later finds on the broker.
  Subscriber later(broker.Port(), {"#"}, {"--retained-only", "-W", "2"});
  later.Process().Wait(10s);
  size_t retainedConfigs = 0;
  for (const BusMessage& m : later.Messages())
    retainedConfigs += m.topic.find("/config") != std::string::npos;
  EXPECT_EQ(retainedConfigs, 14u);
  EXPECT_EQ(later.On(kBase + "/availability").at(0).payload, "offline");
  EXPECT_EQ(later.On(kBase + "/pac").size(), 1u);
}

TEST_F(MqttCliTest, BrokerKilledForTenSecondsPollingGoesOnAndThePublisherComesBack) {
  Broker broker(dir_);
  ASSERT_TRUE(broker.Start());
  Subscriber before(broker.Port(), {kBase + "/record"});
  ASSERT_TRUE(before.WaitSubscribed(broker.Port()));
  ChildProcess cli(Cli({"--mqtt", broker.Url(), "--mqtt-queue", "5"}));
  ASSERT_TRUE(before.WaitFor([](const auto& m) { return m.size() >= 4; })) << cli.Err();

  broker.Kill();
  cli.Drain(10s);
  ASSERT_TRUE(broker.Start());
  Subscriber after(broker.Port(), {kBase + "/record"});
  ASSERT_TRUE(after.WaitSubscribed(broker.Port()));
  // The publisher comes back by itself, after its back-off.
  auto reconnected = [&] {
    const size_t away = cli.Err().find("away (");
    return away != std::string::npos && cli.Err().find("connected to", away) != std::string::npos;
  };
  for (int i = 0; i < 800 && !reconnected(); ++i) cli.Drain(50ms);
  ASSERT_TRUE(reconnected()) << cli.Err();
  const int64_t back = std::time(nullptr);
  ASSERT_TRUE(after.WaitFor([&](const std::vector<BusMessage>& m) {
    return !m.empty() &&
           Seconds(json::parse(m.back().payload)["time"].get<std::string>()) > back + 1;
  })) << cli.Err();
  ASSERT_EQ(cli.Finish(SIGTERM), 0) << cli.Err();

  // Polling never paused: a record at least every few seconds, through the outage.
  const auto rows = CsvRows(cli.Out());
  ASSERT_GE(rows.size(), 16u);
  for (size_t i = 1; i < rows.size(); ++i) {
    EXPECT_LE(CsvSeconds(rows[i]) - CsvSeconds(rows[i - 1]), 3) << rows[i];
  }
  // Nor did the history store miss a record meanwhile.
  std::vector<std::string> stored;
  for (const std::string& day :
       std::set<std::string>{rows.front().substr(0, 10), rows.back().substr(0, 10)}) {
    ChildProcess history({(dir_ / "pyranex-cli").string(), "history", "day", day});
    ASSERT_EQ(history.Wait(30s), 0) << history.Err();
    const auto dayRows = CsvRows(history.Out());
    stored.insert(stored.end(), dayRows.begin(), dayRows.end());
  }
  EXPECT_EQ(stored, rows);
  // The queue never held more than its bound; the oldest records were dropped and counted.
  const std::string& err = cli.Err();
  EXPECT_NE(err.find("dropped (the queue was full)"), std::string::npos) << err;
  // Every "<n> record(s) queued" the publisher reported.
  int reports = 0;
  std::istringstream words(err);
  std::string number, unit;
  for (std::string word; words >> word; number = std::exchange(unit, word)) {
    if (!word.starts_with("queued") || !unit.starts_with("record") || number.empty() ||
        !std::all_of(number.begin(), number.end(), ::isdigit)) {
      continue;
    }
    EXPECT_LE(std::stoi(number), 5) << err;
    ++reports;
  }
  EXPECT_GT(reports, 0) << err;
  // What the queue kept went out first, oldest first, and joins the live records without a gap.
  int64_t previous = 0;
  int kept = 0;
  for (const BusMessage& m : after.Messages()) {
    const int64_t time = Seconds(json::parse(m.payload)["time"].get<std::string>());
    if (previous != 0) {
      EXPECT_GE(time, previous);
      EXPECT_LE(time - previous, 3);
    }
    previous = time;
    kept += time < back - 1;
  }
  EXPECT_GE(kept, 3);
  EXPECT_LE(kept, 5 + 2);  // and a record in flight when the broker died
}

TEST_F(MqttCliTest, OfflineAppearsWhenTheProcessIsKilled) {
  Broker broker(dir_);
  ASSERT_TRUE(broker.Start());
  Subscriber bus(broker.Port(), {kBase + "/availability"});
  ChildProcess cli(Cli({"--mqtt", broker.Url()}));
  ASSERT_TRUE(bus.WaitFor([](const auto& m) { return !m.empty() && m.back().payload == "online"; }))
      << cli.Err();
  cli.Signal(SIGKILL);
  EXPECT_TRUE(bus.WaitFor([](const auto& m) { return m.back().payload == "offline"; }, 10s));
}

TEST_F(MqttCliTest, TlsWithAPasswordAndTheExitStatusesBeforePolling) {
  const BrokerTls tls{MQTT_TEST_CA, MQTT_TEST_CERT, MQTT_TEST_KEY, MQTT_TEST_PASSWD};
  Broker broker(dir_, &tls);
  ASSERT_TRUE(broker.Start());
  const std::string wrong = (dir_ / "wrong").string();
  std::ofstream(wrong) << "not it\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  } const cases[] = {
      {{"--mqtt", broker.Url(true), "--mqtt-ca", MQTT_TEST_CA, "--mqtt-user", "pyranex",
        "--mqtt-password-file", wrong},
       9,
       "refused the login"},
      {{"--mqtt", "mqtt//127.0.0.1"}, 8, "must start with mqtt://"},
      {{"--mqtt", broker.Url(true), "--mqtt-ca", MQTT_TEST_CERT, "--mqtt-user", "pyranex"},
       8,
       "TLS with"},
      {{"--mqtt", broker.Url(true), "--mqtt-ca", (dir_ / "none.crt").string()},
       8,
       "cannot be read"},
  };
  for (const Case& c : cases) {
    ChildProcess cli(Cli(c.args));
    EXPECT_EQ(cli.Wait(20s), c.status) << cli.Err();
    EXPECT_NE(cli.Err().find(c.says), std::string::npos) << cli.Err();
    EXPECT_EQ(cli.Out(), "") << "nothing polled";
  }
  EXPECT_TRUE(sim_->Requests().empty()) << "the port was never touched";

  const std::vector<std::string> subscriberTls = {"--cafile", MQTT_TEST_CA, "-u",
                                                  "pyranex",  "-P",         "test secret"};
  Subscriber bus(broker.Port(), {kBase + "/record"}, subscriberTls);
  ASSERT_TRUE(bus.WaitSubscribed(broker.Port(), subscriberTls));
  ::setenv("PYRANEX_MQTT_PASSWORD", "test secret", 1);
  ChildProcess cli(Cli({"--count", "2", "--mqtt", broker.Url(true), "--mqtt-ca", MQTT_TEST_CA,
                        "--mqtt-user", "pyranex"}));
  ::unsetenv("PYRANEX_MQTT_PASSWORD");
  ASSERT_EQ(cli.Wait(30s), 0) << cli.Err();
  EXPECT_TRUE(bus.WaitFor([](const auto& m) { return m.size() == 2; })) << cli.Err();
}

}  // namespace
}  // namespace pyranex::test
