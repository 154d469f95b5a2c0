#include "mqtt_cli.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "core/mqtt/broker_check.h"
#include "core/mqtt/payloads.h"

namespace pyranex::cli {

namespace {

constexpr auto kCheckLimit = std::chrono::seconds(10);

void Say(const std::string& line) {
  std::fprintf(stderr, "pyranex-cli: MQTT: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

bool ExtractMqttOptions(std::vector<std::string>& args, MqttCliOptions* options,
                        std::string* error) {
  std::vector<std::string> rest;
  bool other = false;  // an MQTT option besides --mqtt itself
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--mqtt-password") {
      *error =
          "the MQTT password is never taken from the command line (other users could read it "
          "there): use --mqtt-password-file FILE or the environment variable " +
          std::string(kMqttPasswordVariable);
      return false;
    }
    std::string* text = nullptr;
    if (arg == "--mqtt") {
      text = &options->url;
    } else if (arg == "--mqtt-user") {
      text = &options->user;
    } else if (arg == "--mqtt-password-file") {
      text = &options->passwordFile;
    } else if (arg == "--mqtt-ca") {
      text = &options->caFile;
    } else if (arg == "--mqtt-base") {
      text = &options->baseTopic;
    } else if (arg == "--no-discovery") {
      options->discovery = false;
      other = true;
      continue;
    } else if (arg == "--mqtt-queue") {
      size_t value = 0;
      const std::string& number = i + 1 < args.size() ? args[i + 1] : std::string();
      const char* end = number.data() + number.size();
      const auto [ptr, ec] = std::from_chars(number.data(), end, value);
      if (number.empty() || ec != std::errc() || ptr != end || value < 1 || value > 1'000'000) {
        *error = "bad --mqtt-queue '" + number + "' (records to keep, 1 to 1000000)";
        return false;
      }
      options->queueCapacity = value;
      other = true;
      ++i;
      continue;
    } else {
      rest.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      *error = "missing value after " + arg;
      return false;
    }
    *text = args[++i];
    if (arg != "--mqtt") other = true;
  }
  if (other && options->url.empty()) {
    *error = "the MQTT options need --mqtt URL";
    return false;
  }
  args = std::move(rest);
  return true;
}

std::string MqttUsage() {
  return "\n"
         "Publishing to an MQTT broker (poll only; Home Assistant finds the inverter by itself):\n"
         "  --mqtt URL               mqtt://host[:port] (1883) or mqtts://host[:port] (TLS, 8883)\n"
         "  --mqtt-user USER         log in as USER\n"
         "  --mqtt-password-file F   the password is the first line of F (keep it chmod 600);\n"
         "                           else it comes from " +
         std::string(kMqttPasswordVariable) +
         ", never from the command line\n"
         "  --mqtt-ca FILE           mqtts: the CA that signed the broker's certificate\n"
         "                           (default: the system's CAs)\n"
         "  --mqtt-base TOPIC        base topic (default pyranex/<serial number>)\n"
         "  --no-discovery           no Home Assistant discovery\n"
         "  --mqtt-queue N           records kept while the broker is away (default 3600); when\n"
         "                           full, the oldest is dropped and counted\n"
         "The broker is checked before polling starts: exit status 8 when the URL, the host, a\n"
         "file or TLS cannot work, 9 when the broker refuses the login. A broker that does not\n"
         "answer yet, or goes away later, only delays publishing: polling goes on, the records\n"
         "wait in the queue and the publisher reconnects by itself.\n";
}

bool ReadMqttPassword(const std::string& path, const char* fromEnvironment, std::string* password,
                      std::string* warning, std::string* error) {
  if (path.empty()) {
    password->assign(fromEnvironment ? fromEnvironment : "");
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "the password file '" + path + "' cannot be read";
    return false;
  }
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) {
    *error = "the password file '" + path + "' is empty";
    return false;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && (info.st_mode & 077) != 0) {
    *warning = "the password file '" + path + "' can be read by other users (chmod 600 it)";
  }
  *password = std::move(line);
  return true;
}

std::unique_ptr<MqttCliSession> MqttCliSession::Start(const MqttCliOptions& options,
                                                      int* exitStatus) {
  *exitStatus = kExitMqttUnusable;
  MqttSettings settings;
  settings.url = options.url;
  settings.user = options.user;
  settings.caFile = options.caFile;
  settings.baseTopic = options.baseTopic;
  settings.discovery = options.discovery;
  if (options.queueCapacity) settings.queueCapacity = *options.queueCapacity;
  std::string warning;
  std::string error;
  if (!ReadMqttPassword(options.passwordFile, std::getenv(kMqttPasswordVariable),
                        &settings.password, &warning, &error)) {
    Say(error);
    return nullptr;
  }
  if (!warning.empty()) Say("warning: " + warning);

  const BrokerCheck check = CheckBroker(settings, kCheckLimit);
  switch (check.outcome) {
    case BrokerCheckOutcome::Ok:
      Say(check.text);
      break;
    case BrokerCheckOutcome::Unreachable:
      Say(check.text + "; polling anyway, publishing once the broker answers");
      break;
    case BrokerCheckOutcome::Refused:
      Say(check.text);
      *exitStatus = kExitMqttRefused;
      return nullptr;
    case BrokerCheckOutcome::Unusable:
    case BrokerCheckOutcome::TlsFailed:
      Say(check.text);
      return nullptr;
  }
  std::unique_ptr<MqttPublisher> publisher = MqttPublisher::Start(settings, &error);
  if (!publisher) {
    Say(error);
    return nullptr;
  }
  *exitStatus = 0;
  return std::unique_ptr<MqttCliSession>(new MqttCliSession(std::move(publisher)));
}

MqttCliSession::MqttCliSession(std::unique_ptr<MqttPublisher> publisher)
    : publisher_(std::move(publisher)) {}

MqttCliSession::~MqttCliSession() {
  publisher_->Stop();
  const MqttStatus status = publisher_->Status();
  std::string summary = std::to_string(status.published) + " records published";
  if (status.dropped > 0) {
    summary += ", " + std::to_string(status.dropped) + " dropped (the queue was full)";
  }
  if (status.unsent > 0) {
    summary += ", " + std::to_string(status.unsent) + " not sent (no broker at the end)";
  }
  Say(summary);
}

void MqttCliSession::Tick(const LinkStatus& link, const Clock& clock) {
  if (lastLink_ != link.condition) {
    lastLink_ = link.condition;
    publisher_->SetLink(MakeLinkReport(link, clock));
  }
  const MqttStatus status = publisher_->Status();
  // Connecting, and waiting for the serial number the base topic names (a second after the
  // inverter answers), are only steps between the others; a first drop is worth a line.
  const bool step =
      status.state == MqttState::Connecting || status.state == MqttState::WaitingForInverter;
  const bool stateChanged = status.state != lastState_ && !step;
  const bool startedDropping = lastDropped_ == 0 && status.dropped > 0;
  if (stateChanged || startedDropping) {
    lastState_ = status.state;
    Say(FormatMqttStatus(status).substr(6));  // without the "MQTT: " that Say puts
  }
  lastDropped_ = status.dropped;
}

}  // namespace pyranex::cli
