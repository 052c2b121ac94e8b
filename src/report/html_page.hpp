// The HTML page of a finished run: the report's tables as plots, with captions.
#pragma once

#include <string>

#include "report/run_report.hpp"

namespace velmar::report {

// The whole page, one self-contained HTML document. The correction-factor images named in
// the report are read from `run_directory`; an image that is missing or unreadable is
// replaced by a note saying why.
std::string render_html_page(const RunReport& report, const std::string& run_directory);

}  // namespace velmar::report
