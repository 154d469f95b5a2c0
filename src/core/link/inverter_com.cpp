#include "core/link/inverter_com.h"

#include <algorithm>

#include "core/link/comm_log.h"
#include "core/platform/messages.h"

namespace pyranex {

namespace {

constexpr uint32_t kReadDelayMs = 800;
constexpr uint32_t kWriteDelayMs = 1500;
constexpr uint32_t kCoilDelayMs = 400;
constexpr uint32_t kCoilReplyValues = 2;
constexpr uint32_t kWriteReplyValues = 2;
constexpr uint32_t kClearKwhCoil = 1;
constexpr uint32_t kAutoTestCoil = 2;
constexpr uint32_t kSerialRegister = 1;
constexpr uint32_t kSerialWriteRegister = 301;
constexpr uint32_t kGfciRegister = 339;
constexpr uint32_t kIsoRegister = 340;
constexpr uint32_t kIslandTestRegister = 357;

uint64_t Pack(const RequestShape& shape) {
  return uint64_t{shape.function} | (uint64_t{shape.address} << 8) |
         (uint64_t{shape.quantity} << 24);
}

RequestShape Unpack(uint64_t word) {
  return {static_cast<uint8_t>(word), static_cast<uint16_t>(word >> 8),
          static_cast<uint16_t>(word >> 24)};
}

}  // namespace

RequestShape ShapeOfRequest(std::span<const uint8_t> frame, size_t addressLength) {
  const size_t k = addressLength;
  if (frame.size() < k + 5) return {};
  return {frame[k], static_cast<uint16_t>((frame[k + 1] << 8) | frame[k + 2]),
          static_cast<uint16_t>((frame[k + 3] << 8) | frame[k + 4])};
}

bool AnswersRequest(const RequestShape& request, const AcceptedFrame& reply) {
  if (request.function == 0 || reply.function != request.function) return false;
  switch (reply.function) {
    case 3:
    case 4:
      return reply.byteCount / 2 == request.quantity;
    case 5:
    case 16:
      return reply.data.size() >= 2 && ((reply.data[0] << 8) | reply.data[1]) == request.address;
    default:
      return false;
  }
}

CInverterCom::CInverterCom(LinkContext context) : CSerialPort(std::move(context)) {}

CInverterCom::~CInverterCom() {
  StopWorker();
}

void CInverterCom::Send(const RequestFrame& frame, uint32_t state, uint32_t expected,
                        uint32_t delay) {
  // Everything a reply is judged against is in place before the worker can see the frame.
  m_exchangeState.store(state);
  m_expectedValues.store(expected);
  m_nextPollDelay.store(delay);
  inFlight_.store(Pack(ShapeOfRequest(frame.View(), AddressLength(GetFraming()))));
  m_lastSendTick.store(GetClock().TickCount());
  RequestWrite(frame.View());
}

void CInverterCom::ReadRegisters(uint32_t firstRegister, uint32_t count) {
  const RequestFrame frame = BuildReadRequest(GetFraming(), GetAddress(), firstRegister, count);
  m_firstRegister.store(firstRegister);
  Send(frame, ExchangeReadSent, count, kReadDelayMs);
}

void CInverterCom::WriteRegisters(uint32_t firstRegister, uint32_t count,
                                  std::span<const uint16_t> values) {
  // Never read past the values given, whatever count says.
  const auto sent = values.first(std::min<size_t>(count, values.size()));
  const RequestFrame frame = BuildWriteRequest(GetFraming(), GetAddress(), firstRegister, sent);
  if (frame.size == 0) return;
  Send(frame, ExchangeWriteSent, kWriteReplyValues, kWriteDelayMs);
}

void CInverterCom::SendAutoTestCommand() {
  Send(BuildCoilRequest(GetFraming(), GetAddress(), kAutoTestCoil), ExchangeCoilSent,
       kCoilReplyValues, kCoilDelayMs);
}

void CInverterCom::SendClearKwhCommand() {
  Send(BuildCoilRequest(GetFraming(), GetAddress(), kClearKwhCoil), ExchangeWriteSent,
       kCoilReplyValues, kCoilDelayMs);
}

void CInverterCom::ReadSerialNumberBroadcast() {
  SetSerialKnown(false);
  if (GetFraming() == FramingSerial) SetAddress(kBroadcastAddress);
  ReadRegisters(kSerialRegister, 3);
}

void CInverterCom::WriteSerialNumber(uint64_t number) {
  const auto words = SerialNumberWords(number);
  WriteRegisters(kSerialWriteRegister, 3, words);
  const SerialBytes bytes = SerialNumberBytes(number);
  receiver_.SetSerialNumber(bytes);
  if (GetFraming() == FramingSerial) SetAddress(bytes);
}

void CInverterCom::SetGfciFunction(bool on) {
  const uint16_t value = on ? 1 : 0;
  WriteRegisters(kGfciRegister, 1, std::span(&value, 1));
}

void CInverterCom::SetIsoFunction(bool on) {
  const uint16_t value = on ? 1 : 0;
  WriteRegisters(kIsoRegister, 1, std::span(&value, 1));
}

void CInverterCom::SetIslandTestSwitch(bool on) {
  const uint16_t value = on ? 1 : 0;
  WriteRegisters(kIslandTestRegister, 1, std::span(&value, 1));
}

std::string CInverterCom::GetSerialNumberText() const {
  return SerialNumberText(GetSerialNumber());
}

void CInverterCom::WriteCommLog(int eventCode) {
  const Clock& clock = GetClock();
  const int64_t now = clock.Now();
  WriteCommLogFile(GetPaths().executableDir / "backdata", CommLogFileName(clock, now, eventCode),
                   FormatCommLog(SnapshotRing(), clock));
}

void CInverterCom::OnReceiveByte(uint8_t byte) {
  const std::optional<AcceptedFrame> frame = receiver_.Feed(byte);
  if (!frame || !AnswersRequest(Unpack(inFlight_.load()), *frame)) return;
  const auto data = frame->data;
  // Only a reply that carries a value can teach the slave address; with fewer than two data
  // bytes the learned byte would be a CRC byte.
  if (m_identifying.load() && GetFraming() == FramingModbus && data.size() >= 2) {
    SetAddressByte0(data[1]);
  }
  if (!IsSerialKnown() && frame->byteCount == 6) {
    SerialBytes serial{};
    std::copy(data.begin(), data.end(), serial.begin());
    receiver_.SetSerialNumber(serial);
    SetSerialKnown(true);
    if (GetFraming() == FramingSerial) SetAddress(serial);
  }
  if (frame->byteCount >= 2) {
    m_lastReplyTick.store(GetClock().TickCount());
    replies_.fetch_add(1);
    const uintptr_t connection = Connection();
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
      Owner().Post(WM_INV_REGISTER, connection,
                   static_cast<intptr_t>((data[i] << 8) | data[i + 1]));
    }
  }
}

}  // namespace pyranex
