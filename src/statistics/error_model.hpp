// The table of the error model of every data set after scaling: the refined model composed
// with the one the input file declared, and the asymptotic I/sigma limits ISa and ISa0.
#pragma once

#include "common/report.hpp"
#include "common/tables.hpp"

namespace velmar {

// The error model relative to the counting-statistics variance v0: the refined (a1, b1)
// composed with the input's (a0, b0) as a = a1 a0, b = b1/a0 + b0.
ErrorModel composed_error_model(const DataSet& s);

// ISa = 1/sqrt(a b), with a b taken as at least 1E-5.
float isa(const ErrorModel& m);

// Prints the explanation and one line (a, b, ISa, ISa0, file name) per data set of a named
// output group on the report and the terminal; all four are -1 when the input's model is
// unknown (a0 <= 0).
void print_error_model_table(const Report& rep, const ControlTables& t);

}  // namespace velmar
