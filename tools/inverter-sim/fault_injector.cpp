#include "fault_injector.h"

#include "responder.h"

namespace pyranex::sim {

void FaultInjector::Configure(const FaultConfig& config, TimePoint now) {
  config_ = config;
  silentUntil_ = now + config.silentFor;
  seen_ = 0;
  damaged_ = 0;
}

ReplyPlan FaultInjector::Shape(std::vector<uint8_t> reply, std::size_t k, uint8_t function,
                               unsigned readQuantity, TimePoint now) {
  ReplyPlan plan;
  ++seen_;
  plan.hangUpAfter = config_.hangUpAfterReplies >= 0 &&
                     seen_ == static_cast<unsigned>(config_.hangUpAfterReplies) + 1;
  if (config_.silent || now < silentUntil_) return plan;
  if (config_.silentAfterReplies >= 0 &&
      seen_ > static_cast<unsigned>(config_.silentAfterReplies)) {
    return plan;
  }
  if (config_.dropEvery != 0 && seen_ % config_.dropEvery == 0) return plan;
  // The reply that triggers a hang-up never makes it out, or only its first half does.
  if (plan.hangUpAfter) {
    if (config_.hangUpMidReply && reply.size() > 1) {
      plan.send = true;
      reply.resize(reply.size() / 2);
      plan.bytes = std::move(reply);
    }
    return plan;
  }
  if (seen_ <= config_.dropFirst) return plan;

  plan.send = true;
  plan.delay = config_.delay;
  const bool damage = config_.damageLimit == 0 || damaged_ < config_.damageLimit;
  const bool anyDamage = config_.badCrc || config_.strayByte || config_.exceptionReply ||
                         config_.shortReply || config_.stuckPartial;
  if (!damage || !anyDamage || reply.size() < k + 3) {
    plan.bytes = std::move(reply);
    return plan;
  }
  ++damaged_;

  const bool isRead = (function == 3 || function == 4) && reply[k] == function;
  if (config_.exceptionReply) {
    reply = ExceptionReply(std::span<const uint8_t>(reply).first(k), function, kIllegalAddress);
  } else if (config_.shortReply && isRead && readQuantity > 0) {
    // One value fewer, with a correct byte count and CRC: well-formed but incomplete.
    std::vector<uint8_t> shorter(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(k + 2));
    shorter[k + 1] = static_cast<uint8_t>((readQuantity - 1) * 2);
    shorter.insert(shorter.end(), reply.begin() + static_cast<std::ptrdiff_t>(k + 2),
                   reply.begin() + static_cast<std::ptrdiff_t>(k + 2 + (readQuantity - 1) * 2));
    AppendCrc(shorter);
    reply = std::move(shorter);
  }
  if (config_.stuckPartial) {
    // Address, header and half the data: the master's receiver stays inside the frame.
    const std::size_t header = isRead ? 2 : 1;
    const std::size_t data = reply.size() - k - header - 2;
    reply.resize(k + header + std::max<std::size_t>(1, data / 2));
  } else if (config_.badCrc) {
    reply.back() ^= 0xFF;
  }
  if (config_.strayByte) reply.insert(reply.begin(), config_.strayValue);
  plan.bytes = std::move(reply);
  return plan;
}

}  // namespace pyranex::sim
