#include "core/link/comm_log.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace pyranex {

namespace {

constexpr const char* kTimeFormat = "%Y-%m-%d %H-%M-%S";

// The log's texts are plain ASCII (times, labels, hex digits).
void AppendAscii(std::u16string& out, std::string_view text) {
  for (const char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

void AppendLine(std::u16string& out, const Clock& clock, const char* label,
                const std::vector<uint8_t>& bytes, int64_t time, uint64_t cut = 0) {
  out += u"\r\n";
  if (!bytes.empty() || cut != 0) AppendAscii(out, FormatLocal(clock, time, kTimeFormat));
  AppendAscii(out, label);
  char hex[4];
  for (const uint8_t byte : bytes) {
    const int n = std::snprintf(hex, sizeof hex, "%x ", byte);
    AppendAscii(out, std::string_view(hex, static_cast<size_t>(n)));
  }
  if (cut != 0) AppendAscii(out, "... " + std::to_string(cut) + " more bytes not kept ");
}

}  // namespace

std::u16string FormatCommLog(const TrafficSnapshot& ring, const Clock& clock) {
  std::u16string out;
  for (int i = 0; i < kRingSlots; ++i) {
    const TrafficSlot& slot = ring.slots[static_cast<size_t>((ring.nextSlot + i) % kRingSlots)];
    AppendLine(out, clock, " Send:", slot.sent, slot.sendTime);
    AppendLine(out, clock, " Recv:", slot.received, slot.receiveTime, slot.receivedCut);
  }
  return out;
}

std::string CommLogFileName(const Clock& clock, int64_t now, int eventCode) {
  return FormatLocal(clock, now, kTimeFormat) + "-e" + std::to_string(eventCode) + ".txt";
}

bool WriteCommLogFile(const std::filesystem::path& folder, const std::string& fileName,
                      const std::u16string& text) {
  try {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::ofstream file(folder / fileName, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t c : text) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
  } catch (...) {
    // A traffic log must never take the program down.
    return false;
  }
}

}  // namespace pyranex
