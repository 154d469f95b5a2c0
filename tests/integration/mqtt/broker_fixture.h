#pragma once

// A mosquitto broker of the test's own on 127.0.0.1 and a free port, and an independent
// subscriber (mosquitto_sub), both children of the test, ended by their pids.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace pyranex::test {

// A port nobody listens on right now.
inline uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

inline bool Listening(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// TLS with the test CA and a password file: the files CMake made at build time.
struct BrokerTls {
  std::string caFile;
  std::string certFile;
  std::string keyFile;
  std::string passwordFile;
};

class Broker {
 public:
  Broker(const std::filesystem::path& dir, const BrokerTls* tls = nullptr)
      : config_(dir / "mosquitto.conf"), port_(FreePort()) {
    std::ofstream out(config_);
    out << "listener " << port_ << " 127.0.0.1\npersistence false\n";
    // Started as root, the broker would turn into the user "mosquitto", who may not read the
    // test's files.
    if (::geteuid() == 0) out << "user root\n";
    if (tls) {
      out << "cafile " << tls->caFile << "\ncertfile " << tls->certFile << "\nkeyfile "
          << tls->keyFile << "\nallow_anonymous false\npassword_file " << tls->passwordFile << "\n";
    } else {
      out << "allow_anonymous true\n";
    }
  }

  bool Start() {
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{MOSQUITTO_BROKER_PATH, "-c", config_.string()});
    for (int i = 0; i < 200; ++i) {
      if (Listening(port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  void Kill() {
    if (process_) process_->Finish(SIGKILL);
    process_.reset();
  }
  uint16_t Port() const { return port_; }
  std::string Url(bool tls = false) const {
    return (tls ? "mqtts://localhost:" : "mqtt://127.0.0.1:") + std::to_string(port_);
  }

 private:
  std::filesystem::path config_;
  uint16_t port_;
  std::unique_ptr<ChildProcess> process_;
};

struct BusMessage {
  bool retained;
  std::string topic;
  std::string payload;
};

inline const std::string kProbeTopic = "pyranex-test/probe";

// mosquitto_sub on `topics` at QoS 1; each message as "<retain> <topic> <payload>". It also
// listens to a probe topic, so a test can tell when it has really subscribed.
class Subscriber {
 public:
  Subscriber(uint16_t port, const std::vector<std::string>& topics,
             std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {
        MOSQUITTO_SUB_PATH, "-h", "127.0.0.1", "-p", std::to_string(port), "-q", "1", "-F",
        "%r %t %p"};
    argv.insert(argv.end(), {"-t", kProbeTopic});
    for (const std::string& topic : topics) {
      argv.push_back("-t");
      argv.push_back(topic);
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<ChildProcess>(argv);
  }

  // Every message but the probes.
  std::vector<BusMessage> Messages() {
    process_->Drain(std::chrono::milliseconds(1));
    std::vector<BusMessage> messages;
    size_t start = 0;
    const std::string& out = process_->Out();
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = out.substr(start, end - start);
      const size_t space = line.find(' ', 2);
      if (line.size() < 3 || space == std::string::npos) continue;
      BusMessage message{line[0] == '1', line.substr(2, space - 2), line.substr(space + 1)};
      if (message.topic == kProbeTopic) {
        probed_ = true;
      } else {
        messages.push_back(std::move(message));
      }
    }
    return messages;
  }

  std::vector<BusMessage> On(const std::string& topic) {
    std::vector<BusMessage> found;
    for (BusMessage& m : Messages()) {
      if (m.topic == topic) found.push_back(std::move(m));
    }
    return found;
  }

  // Waits until `enough` holds for the messages so far.
  template <typename F>
  bool WaitFor(F enough, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!enough(Messages())) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      process_->Drain(std::chrono::milliseconds(50));
    }
    return true;
  }

  // Publishes probes until one comes back: the subscription stands.
  bool WaitSubscribed(uint16_t port, const std::vector<std::string>& tls = {}) {
    for (int i = 0; i < 100 && !probed_; ++i) {
      std::vector<std::string> argv = {
          MOSQUITTO_PUB_PATH, "-h", "127.0.0.1", "-p", std::to_string(port), "-t",
          kProbeTopic,        "-m", "p"};
      argv.insert(argv.end(), tls.begin(), tls.end());
      ChildProcess(argv).Wait(std::chrono::seconds(5));
      WaitFor([this](const auto&) { return probed_; }, std::chrono::milliseconds(100));
    }
    return probed_;
  }

  ChildProcess& Process() { return *process_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  bool probed_ = false;
};

}  // namespace pyranex::test
