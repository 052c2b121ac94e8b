// Reading a CBF image back with CBFlib, when the tests were built with it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifdef VELMAR_HAVE_CBFLIB
#include <cbf.h>
#endif

namespace velmar::testing {

struct CbfContents {
  bool ok = false;
  std::string header_contents;  // the text field, as CBFlib returns it
  size_t nx = 0, ny = 0;
  size_t element_size = 0;
  int element_signed = 0;
  std::vector<int32_t> pixels;
};

#ifdef VELMAR_HAVE_CBFLIB
inline CbfContents read_cbf(const std::string& path) {
  CbfContents c;
  cbf_handle h = nullptr;
  if (cbf_make_handle(&h) != 0) return c;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  bool ok = f != nullptr && cbf_read_file(h, f, MSG_NODIGEST) == 0;  // CBFlib closes f
  const char* text = nullptr;
  ok = ok && cbf_find_category(h, "array_data") == 0 && cbf_find_column(h, "header_contents") == 0 &&
       cbf_get_value(h, &text) == 0 && text != nullptr;
  if (ok) c.header_contents = text;
  unsigned int compression = 0;
  int id = 0, elunsigned = 0, minelem = 0, maxelem = 0;
  size_t nelem = 0, dimslow = 0, padding = 0, read = 0;
  const char* order = nullptr;
  ok = ok && cbf_find_column(h, "data") == 0 &&
       cbf_get_integerarrayparameters_wdims_fs(h, &compression, &id, &c.element_size, &c.element_signed, &elunsigned,
                                               &nelem, &minelem, &maxelem, &order, &c.nx, &c.ny, &dimslow,
                                               &padding) == 0;
  if (ok) {
    c.pixels.resize(nelem);
    ok = cbf_get_integerarray(h, &id, c.pixels.data(), sizeof(int32_t), 1, nelem, &read) == 0 && read == nelem;
  }
  cbf_free_handle(h);
  c.ok = ok;
  return c;
}
#endif

}  // namespace velmar::testing
