// The kinds of input reflection file and their names in the control file.
#pragma once

#include <optional>
#include <string_view>

namespace velmar {

enum class FileKind { kKvdAscii, kDirect, kUnique, kOldHkl, kNormal, kAnomal };

inline std::optional<FileKind> file_kind_from_name(std::string_view name) {
  if (name == "KVD_ASCII") return FileKind::kKvdAscii;
  if (name == "DIRECT") return FileKind::kDirect;
  if (name == "UNIQUE") return FileKind::kUnique;
  if (name == "OLDHKL") return FileKind::kOldHkl;
  if (name == "NORMAL") return FileKind::kNormal;
  if (name == "ANOMAL") return FileKind::kAnomal;
  return std::nullopt;
}

}  // namespace velmar
