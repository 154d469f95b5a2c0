// Receiver throughput on a stream of valid live-data replies (31 registers each).
#include <benchmark/benchmark.h>

#include <vector>

#include "core/link/reply_receiver.h"

namespace {

using namespace pyranex;

std::vector<uint8_t> LiveReplies(Framing framing, const DeviceAddress& address, int count) {
  std::vector<uint8_t> stream;
  for (int r = 0; r < count; ++r) {
    std::vector<uint8_t> frame(address.begin(), address.begin() + AddressLength(framing));
    frame.push_back(0x04);
    frame.push_back(62);
    for (int i = 0; i < 62; ++i) frame.push_back(static_cast<uint8_t>(r * 31 + i * 7));
    const uint16_t crc = ModbusCrc16(frame);
    frame.push_back(crc & 0xFF);
    frame.push_back(crc >> 8);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  return stream;
}

void ReceiveLiveReplies(benchmark::State& state, Framing framing) {
  const DeviceAddress address{0x12, 0x34, 0x56, 0x78, 0x90, 0x12};
  const std::vector<uint8_t> stream = LiveReplies(framing, address, 256);
  ReplyReceiver receiver;
  receiver.SetFraming(framing);
  receiver.SetAddress(address);
  uint64_t values = 0;
  for (auto _ : state) {
    for (const uint8_t byte : stream) {
      if (const auto frame = receiver.Feed(byte)) values += frame->byteCount / 2;
    }
    benchmark::DoNotOptimize(values);
  }
  if (values != static_cast<uint64_t>(state.iterations()) * 256 * 31) {
    state.SkipWithError("a reply was not accepted");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}

void BM_ReceiverSerialFraming(benchmark::State& state) {
  ReceiveLiveReplies(state, FramingSerial);
}
void BM_ReceiverModbusFraming(benchmark::State& state) {
  ReceiveLiveReplies(state, FramingModbus);
}

BENCHMARK(BM_ReceiverSerialFraming);
BENCHMARK(BM_ReceiverModbusFraming);

}  // namespace

BENCHMARK_MAIN();
