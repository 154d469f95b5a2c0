#include "core/workbook/xls_structure.h"

#include <algorithm>
#include <string_view>

namespace pyranex {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr size_t kMaxRecordData = 8224;
constexpr uint32_t kHeaderFatSlots = 109;
// Four full-height export sheets' worth; far above any workbook this program reads.
constexpr uint64_t kMaxDeclaredCells = 4 * 65536 * 16;

uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

class Container {
 public:
  Container(std::span<const uint8_t> file, std::string& why) : file_(file), why_(why) {}

  bool Load() {
    static constexpr uint8_t kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (file_.size() < 512 ||
        !std::equal(std::begin(kSignature), std::end(kSignature), file_.begin())) {
      return Fail("not a compound file");
    }
    const uint16_t shift = U16(file_, 30);
    if ((shift != 9 && shift != 12) || U16(file_, 32) != 6) return Fail("bad sector sizes");
    sector_ = size_t{1} << shift;
    if (file_.size() < sector_) return Fail("truncated header");
    sectors_ = (file_.size() - sector_) / sector_;
    if (U32(file_, 56) != 4096) return Fail("bad mini stream cutoff");
    miniFatSectors_ = U32(file_, 64);

    // Every FAT and DIFAT sector is a sector of the file, so larger counts are damage; trusting
    // them would let a looping DIFAT chain grow the sector list without end. The counts must
    // also agree exactly, as other readers take every listed slot, whatever the count says.
    const uint32_t fatCount = U32(file_, 44);
    const uint32_t difatCount = U32(file_, 72);
    const size_t perDifat = sector_ / 4 - 1;
    const size_t difatNeeded =
        fatCount > kHeaderFatSlots ? (fatCount - kHeaderFatSlots + perDifat - 1) / perDifat : 0;
    if (fatCount > sectors_ || difatCount != difatNeeded) return Fail("bad FAT size");
    std::vector<uint32_t> fatSectors;
    fatSectors.reserve(fatCount);
    for (uint32_t i = 0; i < kHeaderFatSlots; ++i) {
      const uint32_t slot = U32(file_, 76 + 4 * i);
      if (i < fatCount) {
        fatSectors.push_back(slot);
      } else if (slot != kFreeSect) {
        return Fail("FAT sector listed past the FAT size");
      }
    }
    uint32_t difat = U32(file_, 68);
    for (uint32_t n = 0; n < difatCount; ++n) {
      if (!Valid(difat)) return Fail("bad DIFAT chain");
      const auto s = Sector(difat);
      for (size_t k = 0; k < perDifat; ++k) {
        const uint32_t slot = U32(s, 4 * k);
        if (fatSectors.size() < fatCount) {
          fatSectors.push_back(slot);
        } else if (slot != kFreeSect && slot != kEndOfChain) {
          return Fail("FAT sector listed past the FAT size");
        }
      }
      difat = U32(s, sector_ - 4);
    }
    for (const uint32_t f : fatSectors) {
      if (!Valid(f)) return Fail("bad FAT sector");
      const auto s = Sector(f);
      for (size_t k = 0; k < sector_; k += 4) fat_.push_back(U32(s, k));
    }
    return true;
  }

  // A stream of `size` bytes along a checked chain exactly as long as the size needs: no loops,
  // no sector outside the file.
  bool ReadChain(uint32_t start, size_t size, std::vector<uint8_t>& out) {
    const size_t needed = (size + sector_ - 1) / sector_;
    if (needed > sectors_) return Fail("stream larger than the file");
    out.clear();
    out.reserve(size);
    size_t links = 0;
    for (uint32_t s = start; s != kEndOfChain; s = fat_[s]) {
      if (!Valid(s) || s >= fat_.size() || ++links > needed) return Fail("bad chain");
      const size_t n = std::min(sector_, size - out.size());
      const auto bytes = Sector(s).first(n);
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    if (links != needed) return Fail("stream shorter than its size");
    return true;
  }

  // Looks the stream up as common readers do: in the first directory sector only, by name up to
  // its first NUL, the first match winning. Every name met on the way must fit its field.
  bool Workbook(std::vector<uint8_t>& stream) {
    const uint32_t dirStart = U32(file_, 48);
    if (!Valid(dirStart)) return Fail("no directory");
    const auto dir = Sector(dirStart);
    for (size_t at = 0; at + 128 <= dir.size(); at += 128) {
      const auto e = dir.subspan(at, 128);
      const uint16_t nameBytes = U16(e, 64);
      if (nameBytes > 64 || nameBytes % 2 != 0) return Fail("bad directory entry name");
      std::u16string name;
      for (size_t k = 0; k + 1 < nameBytes && U16(e, k) != 0; k += 2) {
        name.push_back(static_cast<char16_t>(U16(e, k)));
      }
      if (at == 0) {
        if (name != u"Root Entry" || e[66] != 5) return Fail("no root entry");
        continue;
      }
      if (name == u"Root Entry") return Fail("second root entry");
      if (name != u"Workbook" && name != u"Book") continue;
      if (e[66] != 2) return Fail("Workbook is not a stream");
      const size_t size = U32(e, 120);
      // Small streams belong in the mini stream, which readers handle too unevenly to trust.
      if (size < 4096 || (size == 4096 && miniFatSectors_ != 0)) {
        return Fail("Workbook stream too small");
      }
      return ReadChain(U32(e, 116), size, stream);
    }
    return Fail("no Workbook stream");
  }

 private:
  bool Valid(uint32_t s) const { return s < sectors_; }
  std::span<const uint8_t> Sector(uint32_t s) const {
    return file_.subspan(sector_ + size_t{s} * sector_, sector_);
  }
  bool Fail(const char* why) {
    why_ = why;
    return false;
  }

  std::span<const uint8_t> file_;
  std::string& why_;
  size_t sector_ = 512;
  size_t sectors_ = 0;
  uint32_t miniFatSectors_ = 0;
  std::vector<uint32_t> fat_;
};

// The record bodies of the shared string table, read as one stream of strings.
class SstReader {
 public:
  explicit SstReader(std::vector<std::span<const uint8_t>> parts) : parts_(std::move(parts)) {}

  bool Check(std::string& why) {
    if (parts_.empty() || parts_[0].size() < 8) return Fail(why, "short SST");
    const uint32_t unique = U32(parts_[0], 4);
    pos_ = 8;
    for (uint32_t i = 0; i < unique; ++i) {
      if (!AtHeaderStart()) return Fail(why, "SST ends early");
      // A header never straddles records, and characters continue into one record at most:
      // that is how Excel writes the table and all that some readers can follow.
      const size_t headerAt = part_;
      uint8_t header[3];
      if (!Take(header, 3)) return Fail(why, "SST string header split");
      const size_t chars = header[0] | header[1] << 8;
      bool wide = header[2] & 1;
      const size_t runs = (header[2] & 8) ? 2 : 0;
      const size_t ext = (header[2] & 4) ? 4 : 0;
      uint8_t extra[6];
      if (!Take(extra, runs + ext) || part_ != headerAt) {
        return Fail(why, "SST string header split");
      }
      const size_t runCount = runs ? (extra[0] | extra[1] << 8) : 0;
      const size_t extBytes = ext ? U32(std::span<const uint8_t>(extra + runs, 4), 0) : 0;
      for (size_t done = 0; done < chars;) {
        if (pos_ == parts_[part_].size()) {
          // Characters continue in the next record, which starts with the width flag again.
          if (part_ != headerAt) return Fail(why, "SST string over three records");
          if (++part_ >= parts_.size() || parts_[part_].empty()) return Fail(why, "SST truncated");
          wide = parts_[part_][0] & 1;
          pos_ = 1;
        }
        const size_t unit = wide ? 2 : 1;
        const size_t room = (parts_[part_].size() - pos_) / unit;
        if (room == 0) return Fail(why, "SST character split");
        const size_t n = std::min(room, chars - done);
        pos_ += n * unit;
        done += n;
      }
      if (!Skip(runCount * 4 + extBytes)) return Fail(why, "SST formatting runs truncated");
    }
    return true;
  }

 private:
  bool AtHeaderStart() {
    while (part_ < parts_.size() && pos_ == parts_[part_].size()) {
      ++part_;
      pos_ = 0;
    }
    return part_ < parts_.size();
  }
  bool Take(uint8_t* out, size_t n) {
    for (size_t k = 0; k < n; ++k) {
      if (!AtHeaderStart()) return false;
      out[k] = parts_[part_][pos_++];
    }
    return true;
  }
  bool Skip(size_t n) {
    while (n > 0) {
      if (!AtHeaderStart()) return false;
      const size_t step = std::min(n, parts_[part_].size() - pos_);
      pos_ += step;
      n -= step;
    }
    return true;
  }
  static bool Fail(std::string& why, const char* text) {
    why = text;
    return false;
  }

  std::vector<std::span<const uint8_t>> parts_;
  size_t part_ = 0;
  size_t pos_ = 0;
};

// A string of cch characters with a flags byte at body[at]; true when it fits in the body.
bool StringFits(std::span<const uint8_t> body, size_t at, size_t chars) {
  if (at >= body.size()) return false;
  const uint8_t flags = body[at];
  size_t end = at + 1;
  size_t runs = 0, ext = 0;
  if (flags & 8) {
    if (end + 2 > body.size()) return false;
    runs = U16(body, end);
    end += 2;
  }
  if (flags & 4) {
    if (end + 4 > body.size()) return false;
    ext = U32(body, end);
    end += 4;
  }
  end += chars * ((flags & 1) ? 2 : 1) + runs * 4 + ext;
  return end <= body.size();
}

}  // namespace

bool ExtractWorkbookStream(std::span<const uint8_t> file, std::vector<uint8_t>& stream,
                           std::string& why) {
  Container container(file, why);
  return container.Load() && container.Workbook(stream);
}

bool CheckBiffRecords(std::span<const uint8_t> stream, std::string& why) {
  const auto fail = [&](const char* text) {
    why = text;
    return false;
  };
  if (stream.size() < 8 || U16(stream, 0) != 0x0809 || U16(stream, 2) < 8 ||
      U16(stream, 4) != 0x0600) {
    return fail("not a BIFF8 workbook");
  }
  std::vector<std::span<const uint8_t>> sst;
  bool inSst = false;
  uint32_t sstUnique = 0;
  // Cells must lie inside their sheet's DIMENSIONS.
  bool haveDimensions = false;
  uint32_t rowEnd = 0;
  uint32_t colEnd = 0;
  const auto cellInside = [&](std::span<const uint8_t> body, uint32_t lastCol) {
    return haveDimensions && U16(body, 0) < rowEnd && lastCol < colEnd && U16(body, 2) <= lastCol;
  };
  // Each sheet's BOUNDSHEET must point at its BOF, as readers find the sheets by that offset.
  std::vector<uint32_t> sheetOffsets;
  std::vector<uint32_t> bofOffsets;
  bool dimensionsSeen = false;
  uint64_t declaredCells = 0;
  for (size_t at = 0; at + 4 <= stream.size();) {
    const size_t recordAt = at;
    const uint16_t type = U16(stream, at);
    const size_t length = U16(stream, at + 2);
    if (length > kMaxRecordData) return fail("record longer than 8224 bytes");
    if (at + 4 + length > stream.size()) return fail("record runs past the stream");
    const auto body = stream.subspan(at + 4, length);
    at += 4 + length;

    if (type == 0x003C && inSst) {
      sst.push_back(body);
      continue;
    }
    if (inSst) {
      SstReader reader(std::move(sst));
      if (!reader.Check(why)) return false;
      sst.clear();
      inSst = false;
    }
    switch (type) {
      case 0x00FC:  // SST
        if (length < 8) return fail("short SST");
        sstUnique = U32(body, 4);
        sst.push_back(body);
        inSst = true;
        break;
      case 0x0809:  // BOF
        if (length < 8) return fail("short BOF");
        if (recordAt > 0) bofOffsets.push_back(static_cast<uint32_t>(recordAt));
        haveDimensions = false;
        dimensionsSeen = false;
        break;
      case 0x0085:  // BOUNDSHEET8
        if (length < 8 || !StringFits(body, 7, body[6])) return fail("bad sheet name");
        sheetOffsets.push_back(U32(body, 0));
        break;
      case 0x041E:  // FORMAT
        if (length < 5 || !StringFits(body, 4, U16(body, 2))) return fail("bad format");
        break;
      case 0x0031:  // FONT
        if (length < 16 || !StringFits(body, 15, body[14])) return fail("bad font");
        break;
      case 0x0204:  // LABEL
        if (length < 9 || !StringFits(body, 8, U16(body, 6)) || !cellInside(body, U16(body, 2))) {
          return fail("bad label");
        }
        break;
      case 0x00FD:  // LABELSST
        if (length < 10 || U32(body, 6) >= sstUnique || !cellInside(body, U16(body, 2))) {
          return fail("bad shared string cell");
        }
        break;
      case 0x0203:  // NUMBER
      case 0x0006:  // FORMULA
        if (length < 14 || !cellInside(body, U16(body, 2))) return fail("bad number cell");
        break;
      case 0x027E:  // RK
      case 0x0201:  // BLANK
      case 0x0205:  // BOOLERR
        if (length < 6 || !cellInside(body, U16(body, 2))) return fail("bad cell");
        break;
      case 0x00BD:  // MULRK
      case 0x00BE:  // MULBLANK
      {
        const size_t each = type == 0x00BD ? 6 : 2;
        if (length < 6 + each || (length - 6) % each != 0) return fail("bad multiple cell");
        const uint32_t lastCol = U16(body, length - 2);
        if (lastCol - U16(body, 2) + 1 != (length - 6) / each || !cellInside(body, lastCol)) {
          return fail("bad multiple cell");
        }
        break;
      }
      case 0x0200:  // DIMENSIONS
        if (length < 14 || dimensionsSeen) return fail("bad dimensions");
        dimensionsSeen = true;
        rowEnd = U32(body, 4);
        colEnd = U16(body, 10);
        haveDimensions =
            U32(body, 0) <= rowEnd && rowEnd <= 65536 && U16(body, 8) <= colEnd && colEnd <= 256;
        // Readers set aside memory for every declared cell of every sheet.
        declaredCells += uint64_t{rowEnd} * colEnd;
        if (!haveDimensions || declaredCells > kMaxDeclaredCells) return fail("bad dimensions");
        break;
      default:
        break;
    }
  }
  if (inSst) {
    SstReader reader(std::move(sst));
    if (!reader.Check(why)) return false;
  }
  if (sheetOffsets != bofOffsets) return fail("sheet offsets do not match the sheets");
  return true;
}

bool CheckXlsStructure(std::span<const uint8_t> file, std::string& why) {
  std::vector<uint8_t> stream;
  return ExtractWorkbookStream(file, stream, why) && CheckBiffRecords(stream, why);
}

}  // namespace pyranex
