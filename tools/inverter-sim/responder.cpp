#include "responder.h"

#include <algorithm>

#include "sim_crc.h"

namespace pyranex::sim {

namespace {

constexpr uint8_t kSerialBroadcast = 0x99;

// Wire address to register number, per framing. Serial framing offsets the addresses into the
// 40000 range; standard Modbus numbers input registers from 1 and holding registers from 301.
unsigned InputRegisterOf(unsigned wire, bool serial) {
  return serial ? wire - 39990 : wire + 1;
}
unsigned HoldingRegisterOf(unsigned wire, bool serial) {
  return serial ? wire - 39890 : wire + 301;
}
unsigned CoilOf(unsigned wire, bool serial) {
  return serial ? wire : wire + 1;
}

unsigned Word(std::span<const uint8_t> bytes, std::size_t at) {
  return bytes[at] * 256u + bytes[at + 1];
}

void PutWord(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}

}  // namespace

void AppendCrc(std::vector<uint8_t>& frame) {
  const uint16_t crc = Crc16Modbus(frame);
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
}

std::vector<uint8_t> ExceptionReply(std::span<const uint8_t> address, uint8_t function,
                                    uint8_t code) {
  std::vector<uint8_t> out(address.begin(), address.end());
  out.push_back(static_cast<uint8_t>(function | 0x80));
  out.push_back(code);
  AppendCrc(out);
  return out;
}

Answer Respond(InverterModel& model, std::span<const uint8_t> frame, std::size_t k,
               FramingMode mode) {
  Answer answer;
  const bool serial = k == 6;
  if (serial && mode == FramingMode::Modbus) return answer;
  if (!serial && mode == FramingMode::Serial) return answer;
  if (frame.size() < k + 4) return answer;

  const auto address = frame.first(k);
  bool own = false;
  bool silentBroadcast = false;
  if (serial) {
    const auto bcd = model.SerialBcd();
    own = std::equal(address.begin(), address.end(), bcd.begin());
    const bool broadcast = std::all_of(address.begin(), address.end(),
                                       [](uint8_t b) { return b == kSerialBroadcast; });
    if (!own && !broadcast) return answer;
  } else {
    own = address[0] == model.SlaveAddress();
    silentBroadcast = address[0] == kModbusBroadcast && !own;
    if (!own && !silentBroadcast && address[0] != kModbusProbeAddress) return answer;
  }
  answer.addressedToUs = true;

  const uint8_t function = frame[k];
  answer.function = function;
  const auto pdu = frame.subspan(k);  // function onwards, CRC included
  std::vector<uint8_t> body;          // reply after the address, before the CRC
  std::optional<uint8_t> exception;

  switch (function) {
    case 3:
    case 4: {
      const unsigned wire = Word(pdu, 1);
      const unsigned quantity = Word(pdu, 3);
      answer.quantity = quantity;
      if (quantity == 0 || quantity > 125) {
        exception = kIllegalValue;
        break;
      }
      const unsigned first =
          function == 4 ? InputRegisterOf(wire, serial) : HoldingRegisterOf(wire, serial);
      body = {function, static_cast<uint8_t>(quantity * 2)};
      for (unsigned i = 0; i < quantity && !exception; ++i) {
        const auto value =
            function == 4 ? model.InputRegister(first + i) : model.HoldingRegister(first + i);
        if (!value)
          exception = kIllegalAddress;
        else
          PutWord(body, *value);
      }
      break;
    }
    case 5: {
      const unsigned coil = CoilOf(Word(pdu, 1), serial);
      const unsigned value = Word(pdu, 3);
      if (value != 0xFF00 && value != 0x0000)
        exception = kIllegalValue;
      else if (!model.WriteCoil(coil, value == 0xFF00))
        exception = kIllegalAddress;
      else {
        model.RecordWrite({true, coil, {static_cast<uint16_t>(value)}});
        body.assign(pdu.begin(), pdu.begin() + 5);
      }
      break;
    }
    case 6: {
      const unsigned reg = HoldingRegisterOf(Word(pdu, 1), serial);
      if (!model.HoldingRegister(reg))
        exception = kIllegalAddress;
      else {
        model.WriteHolding(reg, static_cast<uint16_t>(Word(pdu, 3)));
        model.RecordWrite({false, reg, {static_cast<uint16_t>(Word(pdu, 3))}});
        body.assign(pdu.begin(), pdu.begin() + 5);
      }
      break;
    }
    case 16: {
      const unsigned first = HoldingRegisterOf(Word(pdu, 1), serial);
      const unsigned quantity = Word(pdu, 3);
      if (quantity == 0 || quantity > 123 || pdu[5] != quantity * 2) {
        exception = kIllegalValue;
        break;
      }
      if (!model.HoldingRegister(first) || !model.HoldingRegister(first + quantity - 1)) {
        exception = kIllegalAddress;
        break;
      }
      SimWrite write{false, first, {}};
      for (unsigned i = 0; i < quantity; ++i) {
        write.values.push_back(static_cast<uint16_t>(Word(pdu, 6 + 2 * i)));
        model.WriteHolding(first + i, write.values.back());
      }
      model.RecordWrite(std::move(write));
      body.assign(pdu.begin(), pdu.begin() + 5);
      break;
    }
    default:
      exception = kIllegalFunction;
      break;
  }

  if (silentBroadcast) return answer;
  if (exception) {
    answer.reply = ExceptionReply(address, function, *exception);
    return answer;
  }
  std::vector<uint8_t> reply;
  if (own && serial) {
    const auto bcd = model.SerialBcd();
    reply.assign(bcd.begin(), bcd.end());
  } else if (own) {
    reply.push_back(model.SlaveAddress());
  } else {
    reply.assign(address.begin(), address.end());
  }
  reply.insert(reply.end(), body.begin(), body.end());
  AppendCrc(reply);
  answer.reply = std::move(reply);
  return answer;
}

}  // namespace pyranex::sim
