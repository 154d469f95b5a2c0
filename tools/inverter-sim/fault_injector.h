#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace pyranex::sim {

// Ways the simulated inverter can misbehave. Every field can be changed while it runs.
struct FaultConfig {
  // Silence: answer nothing at all, answer nothing after this many replies (negative: never),
  // or answer nothing for this long from the moment the faults are set.
  bool silent = false;
  int silentAfterReplies = -1;
  std::chrono::milliseconds silentFor{0};
  // Leave out every Nth reply (0: never).
  unsigned dropEvery = 0;
  // Damage the replies: wrong CRC, one stray byte in front, an exception reply (function | 0x80,
  // code 2) instead of the answer, a read reply with one value fewer than asked, or only the
  // first part of a frame (the master's receiver is left waiting inside the data).
  bool badCrc = false;
  bool strayByte = false;
  uint8_t strayValue = 0x00;
  bool exceptionReply = false;
  bool shortReply = false;
  bool stuckPartial = false;
  // Damage only this many replies, then answer properly again (0: all of them).
  unsigned damageLimit = 0;
  // Wait this long before each reply.
  std::chrono::milliseconds delay{0};
  // Hang up (close the line as an unplugged adapter would) after this many replies (negative:
  // never), and come back after `hangUpFor` on the same COM number.
  int hangUpAfterReplies = -1;
  std::chrono::milliseconds hangUpFor{3000};
  // ...sending the first half of the reply that triggers it (the master is left inside a frame).
  bool hangUpMidReply = false;
  // Leave out the first N replies (an inverter still starting up after a replug).
  unsigned dropFirst = 0;
  // Stream random bytes without pause, as a noisy line or a wrong device does.
  bool noise = false;
};

// What to do with one reply.
struct ReplyPlan {
  bool send = false;
  std::vector<uint8_t> bytes;
  std::chrono::milliseconds delay{0};
  bool hangUpAfter = false;  // hang up once this reply has gone (or would have gone)
};

// Applies a FaultConfig to the stream of replies. Pure apart from the time it is handed.
class FaultInjector {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  void Configure(const FaultConfig& config, TimePoint now);
  const FaultConfig& Config() const { return config_; }

  // `reply` is the correct reply to a request whose first `addressLength` bytes are the address
  // and whose function is `function`; `readQuantity` is the register count of a read (else 0).
  ReplyPlan Shape(std::vector<uint8_t> reply, std::size_t addressLength, uint8_t function,
                  unsigned readQuantity, TimePoint now);

  unsigned RepliesSeen() const { return seen_; }

 private:
  FaultConfig config_;
  TimePoint silentUntil_{};
  unsigned seen_ = 0;     // replies asked for since Configure
  unsigned damaged_ = 0;  // replies damaged since Configure
};

}  // namespace pyranex::sim
