// A run record as a JSON document (the layout is in the README, "Checkout
// records"). Reading never trusts the file: a document that is not JSON, is
// cut short, has another schema or lacks a field gives the reason instead.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "record/run_record.h"

namespace kc {

// The layout version written in every record's "schema" field.
inline constexpr int kRecordSchema = 1;

std::string RecordToJson(const RunRecord& run);

struct ParsedRecord {
  std::optional<RunRecord> record;
  std::string error;  // why there is no record
};
ParsedRecord ParseRecord(std::string_view text);
// Reads and parses one file; never writes to it.
ParsedRecord ReadRecordFile(const std::filesystem::path& file);

}  // namespace kc
