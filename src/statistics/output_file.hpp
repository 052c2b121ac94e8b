// The output reflection file of one output group (KVD_ASCII, merged or unmerged): header,
// final outlier rejection per unique reflection and parity class, data records.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "common/observations.hpp"
#include "common/reflection_key.hpp"
#include "common/tables.hpp"

namespace velmar {

// Everything the writer and the statistics read; all owned by the caller.
struct ScaledData {
  const ControlTables& tables;            // data sets (wavelength, dose used), groups, operators, cell
  const UniqueTable& unique;
  const ObservationList& obs;
  std::string_view version;               // program version text
  std::string_view date;                  // run date, 11 characters
};

// Counts returned to the caller; `error` is empty on success, else the message text
// (at most 80 characters) without a leading blank.
struct OutputCounts {
  int64_t considered = 0;  // observations seen
  int64_t rejected = 0;
  int64_t written = 0;     // data records
  std::string error;
};

inline constexpr size_t kErrorTextLength = 80;

// Measured indices of an observation from its reflection key: s (h,k,l) transformed by the
// inverse of operator |isym|, s the sign of isym (+1 for isym >= 0). `inverse` holds the
// 0-based index of every operator's inverse (mlinv). Stops with an ASSERT VIOLATION of
// "RESTHKL" when |isym| is not an operator number.
std::array<int, 3> resthkl(const ReflKey& key, std::span<const Symop> ops, std::span<const int> inverse);

// Deletes "<name>.Z", "<name>.z" and "<name>.gz" (leading blanks of name removed).
void remove_stale_copies(std::string_view name);

// True when the unmerged file of `group` (1-based) carries the dose-corrected header block
// and the DCY column.
bool dose_corrected_output(const ScaledData& data, int group);

// Header lines 1 to 11 of the file of output group `group` (1-based), each ending in '\n'.
std::string header_text(const ScaledData& data, int group);

// Removes the stale compressed copies, opens the file (replacing it) and writes its header.
// Returns the open file, or nullptr with `error` set.
std::FILE* vmrhdr(const ScaledData& data, int group, std::string& error);

// Writes the output file of `group` (1-based): header, one record per accepted observation
// (unmerged) or per unique reflection and parity class (merged), "!END_OF_DATA  ".
OutputCounts vmrhkl(const ScaledData& data, int group);

}  // namespace velmar
