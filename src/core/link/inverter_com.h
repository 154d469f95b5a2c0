#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "core/link/frame_codec.h"
#include "core/link/reply_receiver.h"
#include "core/link/serial_port.h"

namespace pyranex {

// What a request asked, so that only its answer is accepted: the function, the wire register or
// coil address and, for a read, the register count.
struct RequestShape {
  uint8_t function = 0;  // 0: nothing asked yet
  uint16_t address = 0;
  uint16_t quantity = 0;
};

// The shape of a request frame whose address field is `addressLength` bytes long.
RequestShape ShapeOfRequest(std::span<const uint8_t> frame, size_t addressLength);
// True when `reply` answers `request`: the same function; for a read, byte count / 2 equal to
// the registers asked (an odd last byte is tolerated and ignored); for a write or a coil, the
// echoed address. Anything else on the line (noise, a late answer to an older request, another
// master's traffic) is not taken.
bool AnswersRequest(const RequestShape& request, const AcceptedFrame& reply);

enum ExchangeState : uint32_t {
  ExchangeCoilSent = 1,
  ExchangeReadSent = 2,
  ExchangeWriteSent = 3,
  ExchangeIdle = 4,
};

// Speaks to one inverter: builds every request, keeps the bookkeeping of the exchange in
// progress, and turns accepted replies into WM_INV_REGISTER messages to the owner (wParam: the
// connection they belong to, lParam: one register value).
//
// Bookkeeping fields are atomics read by the poll thread; a request stores its bookkeeping before
// its frame is handed to the worker, so a reply can never be processed against stale values.
class CInverterCom : public CSerialPort {
 public:
  explicit CInverterCom(LinkContext context);
  ~CInverterCom() override;

  // Requests. None waits for the reply.
  void ReadRegisters(uint32_t firstRegister, uint32_t count);
  void WriteRegisters(uint32_t firstRegister, uint32_t count, std::span<const uint16_t> values);
  void SendAutoTestCommand();
  void SendClearKwhCommand();
  void ReadSerialNumberBroadcast();
  void WriteSerialNumber(uint64_t number);
  void SetGfciFunction(bool on);
  void SetIsoFunction(bool on);
  void SetIslandTestSwitch(bool on);

  std::string GetSerialNumberText() const;
  // Writes the last 20 exchanges to backdata/<local time>-e<code>.txt beside the executable.
  void WriteCommLog(int eventCode);

  // Exchange bookkeeping.
  std::atomic<uint32_t> m_exchangeState{ExchangeIdle};
  std::atomic<uint32_t> m_expectedValues{0};
  std::atomic<uint32_t> m_nextPollDelay{200};
  std::atomic<uint32_t> m_firstRegister{0};
  std::atomic<uint32_t> m_lastReplyTick{0};
  std::atomic<uint32_t> m_lastSendTick{0};

  // Identification state (written by the connect step and the reply dispatch).
  std::atomic<bool> m_identifying{false};
  std::string m_firmwareVersion;  // interface thread only

  Framing GetFraming() const { return receiver_.GetFraming(); }
  // Sets the framing and with it the address length (6 or 1).
  void SetFraming(Framing framing) { receiver_.SetFraming(framing); }
  void SetAddress(const DeviceAddress& address) { receiver_.SetAddress(address); }
  void SetAddressByte0(uint8_t value) { receiver_.SetAddressByte0(value); }
  DeviceAddress GetAddress() const { return receiver_.GetAddress(); }
  bool IsSerialKnown() const { return receiver_.IsSerialKnown(); }
  void SetSerialKnown(bool known) { receiver_.SetSerialKnown(known); }
  SerialBytes GetSerialNumber() const { return receiver_.GetSerialNumber(); }

  // Starts a new connection (a connect, or a reopen that identifies the inverter afresh). Every
  // message posted from here on carries its number in wParam, so that values an older
  // connection left in the owner's queue are never taken for replies to the new one.
  void BeginConnection() { connection_.fetch_add(1); }
  uint32_t Connection() const { return connection_.load(); }

  // Replies taken that carried values, since construction.
  uint32_t ReplyCount() const { return replies_.load(); }

  // Receive state as the poll cycle sees it: 0 matching address, 1 header, 2 data and CRC.
  uint32_t ReceiveState() const { return receiver_.State(); }
  // Back to address matching; takes effect before the next received byte.
  void ResetReceiver() { receiver_.RequestReset(); }

 protected:
  void OnReceiveByte(uint8_t byte) override;

 private:
  void Send(const RequestFrame& frame, uint32_t state, uint32_t expected, uint32_t delay);
  ReplyReceiver receiver_;
  // The request in flight, packed: function, address, quantity (see RequestShape).
  std::atomic<uint64_t> inFlight_{0};
  std::atomic<uint32_t> replies_{0};
  std::atomic<uint32_t> connection_{0};
};

}  // namespace pyranex
