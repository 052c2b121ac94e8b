// Fuzz target bodies for the three parsers of untrusted text: the control file, the header
// of KVD_ASCII reflection files, and the data of reflection files of every kind.
//
// Each body drives the parser the way the program does and returns whether the input was
// accepted or rejected with the program's own error (VelmarError, or an unusable-file
// status). Anything else is a fault: a ParserFault thrown here for a broken promise of the
// parser, any other exception escaping the parser, a crash or a sanitizer report. The
// libFuzzer wrappers (tests/fuzz/main/) and the corpus replay of the test suite share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmar::fuzz {

enum class Outcome { kAccepted, kRejected };

// A broken promise of a parser (for example a reader that stops advancing).
class ParserFault : public std::logic_error {
 public:
  explicit ParserFault(const std::string& what) : std::logic_error(what) {}
};

// The control file "VELMAR.INP": cards and completion. Input: the control text, optionally
// followed by a line "#### h.hkl" and the content of the file h.hkl. The parser runs in a
// fixed directory that also holds a.hkl (KVD_ASCII, space group 96, unmerged, anomalous),
// m.hkl (KVD_ASCII, space group 19, merged) and t.hkl (a file for the kinds without
// header); h.hkl is absent when the input does not give it.
Outcome fuzz_control_file(const uint8_t* data, size_t size);

// The header of a KVD_ASCII file (`readhdr`); the input is the whole file.
Outcome fuzz_header(const uint8_t* data, size_t size);

// The data of a reflection file read to its end. The first byte chooses how: bits 0..2 the
// kind (0 KVD_ASCII, 1 DIRECT, 2 UNIQUE, 3 OLDHKL, 4 NORMAL, 5 ANOMAL; 6 and 7 as 0 and 1),
// bit 3 Friedel's law of the output group, bits 4..5 the read buffer (the smallest one,
// a few records, or the program's own size). The rest is the file.
Outcome fuzz_data_lines(const uint8_t* data, size_t size);

}  // namespace velmar::fuzz
