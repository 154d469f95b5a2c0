// The publisher in process, against a broker that is not there yet: the queue's bound, the
// reconnection, the order, and discovery again when Home Assistant comes back.

#include "core/mqtt/mqtt_publisher.h"

#include <gtest/gtest.h>

#include "broker_fixture.h"
#include "support/eventually.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;

LiveRecord Record(int64_t time) {
  LiveRecord record;
  record.serialNumber = "000000000042";
  record.firmwareVersion = "V4.10";
  record.ratedPower = 30;
  record.time = time;
  record.values.fill(1.0);
  return record;
}

TEST(MqttPublisherTest, KeepsTheNewestRecordsWhileAwayThenSendsThemInOrder) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("pyranex-publisher-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Broker broker(dir);  // not started yet

  MqttSettings settings;
  settings.url = broker.Url();
  settings.baseTopic = "test/pv";
  settings.queueCapacity = 3;
  std::string error;
  auto publisher = MqttPublisher::Start(settings, &error);
  ASSERT_TRUE(publisher) << error;
  for (int64_t t = 0; t < 10; ++t) publisher->Accept(Record(1000 + t));
  ASSERT_TRUE(Eventually([&] { return publisher->Status().state == MqttState::Retrying; }));
  MqttStatus status = publisher->Status();
  EXPECT_EQ(status.queued, 3u);
  EXPECT_EQ(status.dropped, 7u);
  EXPECT_NE(status.lastError.find("refused"), std::string::npos) << status.lastError;

  ASSERT_TRUE(broker.Start());
  Subscriber bus(broker.Port(), {"test/pv/#", "homeassistant/#"});
  ASSERT_TRUE(bus.WaitSubscribed(broker.Port()));
  ASSERT_TRUE(publisher->WaitUntilIdle(20s)) << FormatMqttStatus(publisher->Status());
  ASSERT_TRUE(bus.WaitFor([&](const auto&) { return bus.On("test/pv/record").size() >= 3; }));
  const auto records = bus.On("test/pv/record");
  ASSERT_EQ(records.size(), 3u);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_NE(records[i].payload.find(FormatIso8601(1007 + int64_t(i), 0)), std::string::npos);
  }
  auto configs = [&] {
    size_t n = 0;
    for (const BusMessage& m : bus.Messages()) n += m.topic.ends_with("/config");
    return n;
  };
  EXPECT_EQ(configs(), 14u);

  ChildProcess({MOSQUITTO_PUB_PATH, "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-t",
                "homeassistant/status", "-m", "online"})
      .Wait(5s);
  EXPECT_TRUE(bus.WaitFor([&](const auto&) { return configs() == 28u; }, 10s));

  publisher->Stop();
  EXPECT_TRUE(bus.WaitFor([](const auto& m) { return m.back().payload == "offline"; }, 10s));
  EXPECT_EQ(publisher->Status().state, MqttState::Stopped);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace pyranex::test
