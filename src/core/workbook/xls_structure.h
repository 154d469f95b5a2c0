#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pyranex {

// Pulls the "Workbook" stream out of a compound file, following its sector chains with every
// index and length checked. Returns false with the reason when the container is damaged.
bool ExtractWorkbookStream(std::span<const uint8_t> file, std::vector<uint8_t>& stream,
                           std::string& why);

// Checks that a BIFF8 workbook stream is a well-formed sequence of records whose string fields
// stay inside their records, so that a reader never reads past the data it was given.
bool CheckBiffRecords(std::span<const uint8_t> stream, std::string& why);

// Both of the above: true when the file is a structurally sound Excel 97-2003 workbook.
bool CheckXlsStructure(std::span<const uint8_t> file, std::string& why);

}  // namespace pyranex
