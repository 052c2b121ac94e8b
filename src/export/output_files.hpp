// Writing an export file so that it appears whole or not at all.
#pragma once

#include <functional>
#include <string>

namespace velmar {

// Calls write(temporary name) for a file beside `out`, then renames it to `out`. When the
// writer throws or the rename fails, the temporary file is removed and the run stops with
// "CANNOT OPEN OR WRITE out"; an existing `out` is then left as it was.
void write_whole_file(const std::string& out, const std::function<void(const std::string&)>& write);

// The file name without directory and extension: "run/merged.hkl" gives "merged".
std::string file_stem(const std::string& path);

}  // namespace velmar
