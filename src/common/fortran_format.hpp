// Fixed-column output fields, written exactly as Fortran edit descriptors print them.
//
// Every fixed-column line of the report and of the output files is built by appending
// fields to a std::string with these functions. A value that does not fit its field
// prints as w asterisks, as Fortran does.
#pragma once

#include <string>
#include <string_view>

namespace velmar {

// Iw: integer right-justified in w columns.
void put_i(std::string& s, long long v, int w);
// Fw.d: fixed point with d decimals; the leading zero is dropped when only it does not fit.
void put_f(std::string& s, double v, int w, int d);
// Ew.d: 0.ddddE+xx (d significant digits after "0."); three-digit exponents drop the "E".
void put_e(std::string& s, double v, int w, int d);
// ESw.d: d.dddE+xx (one nonzero digit before the point, d after it).
void put_es(std::string& s, double v, int w, int d);
// Aw: the leftmost w characters of t, right-justified (blank-padded on the left) when shorter.
void put_a(std::string& s, std::string_view t, int w);
// A CHARACTER*len variable printed with A: t left-justified, blank-padded or cut to len.
void put_char(std::string& s, std::string_view t, int len);
// nX: n blanks.
void put_x(std::string& s, int n);

// Convenience forms returning the field alone.
std::string fmt_i(long long v, int w);
std::string fmt_f(double v, int w, int d);
std::string fmt_e(double v, int w, int d);
std::string fmt_es(double v, int w, int d);
std::string fmt_a(std::string_view t, int w);
std::string fmt_char(std::string_view t, int len);

}  // namespace velmar
