#include "statistics/error_model.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/fortran_format.hpp"

namespace velmar {

ErrorModel composed_error_model(const DataSet& s) {
  const ErrorModel& in = s.load.input_model;
  return {s.model.a * in.a, s.model.b / in.a + in.b};
}

float isa(const ErrorModel& m) { return 1.0f / std::sqrt(std::max(m.a * m.b, 1.0e-5f)); }

void print_error_model_table(const Report& rep, const ControlTables& t) {
  rep.both("");
  rep.both(frame_line());
  rep.both("    CORRECTION PARAMETERS FOR THE STANDARD ERROR OF REFLECTION INTENSITIES");
  rep.both(frame_line());
  rep.both("");
  for (const char* line : {
           " The variance v0(I) of the intensity I obtained from counting statistics is",
           " replaced by v(I)=a*(v0(I)+b*I^2). The model parameters a, b are chosen to",
           " minimize the discrepancies between v(I) and the variance estimated from",
           " sample statistics of symmetry related reflections. This model implicates",
           " an asymptotic limit ISa=1/SQRT(a*b) for the highest I/Sigma(I) that the",
           " experimental setup can produce",
           " Often the value of ISa is reduced from the initial value ISa0 due to systematic",
           " errors showing up by comparison with other data sets in the scaling procedure.",
           " (ISa=ISa0=-1 if v0 is unknown for a data set.)",
       })
    rep.both(line);
  rep.both("");
  rep.both("     a        b          ISa    ISa0   INPUT DATA SET");
  for (const DataSet& s : t.sets) {
    if (t.groups[static_cast<size_t>(s.group - 1)].name.empty()) continue;
    const bool known = s.load.input_model.a > 0.0f;
    const ErrorModel m = known ? composed_error_model(s) : ErrorModel{-1.0f, -1.0f};
    std::string line;
    put_es(line, m.a, 10, 3);
    put_es(line, m.b, 11, 3);
    put_f(line, known ? isa(m) : -1.0f, 8, 2);
    put_f(line, known ? isa(s.load.input_model) : -1.0f, 8, 2);
    line += ' ';
    line += s.name;
    rep.both(line);
  }
  rep.both("");
}

}  // namespace velmar
