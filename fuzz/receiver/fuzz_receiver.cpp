// Arbitrary bytes into the reply receiver and the accept steps. The first byte chooses the
// framing, whether identification is running and whether the serial number is still unknown.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/link/inverter_com.h"
#include "support/fake_clock.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace {

// Gives the fuzzer the worker's byte handler without starting a worker.
class FeedableCom final : public pyranex::CInverterCom {
 public:
  using CInverterCom::CInverterCom;
  using CInverterCom::OnReceiveByte;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  using namespace pyranex;
  static test::FakeClock clock;
  static test::RecordingNotifier notifier;
  test::QueueSink sink;
  FeedableCom com(LinkContext{sink, clock, notifier, Paths{}, {}});

  const uint8_t mode = data[0];
  const Framing framing = (mode & 1) ? FramingModbus : FramingSerial;
  com.SetFraming(framing);
  com.m_identifying = (mode & 2) != 0;
  com.SetSerialKnown((mode & 4) == 0);
  if (mode & 8) {
    com.SetAddress({0x12, 0x34, 0x56, 0x78, 0x90, 0x12});
  } else if (framing == FramingModbus) {
    com.SetAddressByte0(mode >> 4);
  }

  // Also the plain receiver, to check each accepted frame's shape.
  ReplyReceiver receiver;
  receiver.SetFraming(framing);
  receiver.SetAddress(com.GetAddress());
  for (size_t i = 1; i < size; ++i) {
    com.OnReceiveByte(data[i]);
    if (const auto frame = receiver.Feed(data[i])) {
      const size_t k = AddressLength(framing);
      if (frame->data.size() != frame->byteCount ||
          k + frame->headerLength + frame->byteCount + 2 > ReplyReceiver::kBufferSize) {
        std::abort();
      }
    }
    if (receiver.State() > 2 || com.ReceiveState() > 2) std::abort();
  }
  for (const auto& m : sink.TakeAll()) {
    if (m.lParam < 0 || m.lParam > 0xFFFF) std::abort();
  }
  return 0;
}
