// The reflections of a VELMAR output file in the form MTZ and mmCIF files hold them: indices
// in the reciprocal asymmetric unit of gemmi (the CCP4 convention), Friedel halves as
// I(+)/I(-) columns, the symmetry operator of each observation as ISYM, image numbers as
// batch numbers.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <gemmi/symmetry.hpp>

#include "export/velmar_file.hpp"

namespace velmar {

// gemmi's space group with the operators of the file (its setting included); stops with a
// message when gemmi has no such group.
const gemmi::SpaceGroup& gemmi_space_group(const VelmarFile& f);

// One row per reflection of the asymmetric unit, sorted by h, k, l. Without Friedel's law
// the halves go to I(+) and I(-) (a centric reflection to I(+) only) and the mean is their
// weighted mean; with it only the mean is filled. NaN marks an absent value.
struct MergedTable {
  std::vector<std::array<int, 3>> hkl;
  std::vector<float> imean, sigimean;
  std::vector<float> iplus, sigiplus, iminus, sigiminus;
  size_t size() const { return hkl.size(); }
};

// Stops with a message when two records of the file land on the same row and half.
MergedTable merged_table(const VelmarFile& f, const gemmi::SpaceGroup& sg);

// Per record of an unmerged file: the asymmetric-unit indices, ISYM (2n-1 when operator n
// maps the measured indices into the asymmetric unit, 2n when it maps their Friedel mate),
// and the batch number: the image number ZD rounded, plus the offset of its data set.
struct UnmergedTable {
  std::vector<std::array<int, 3>> asu_hkl;
  std::vector<int> isym;
  std::vector<int> batch;
  std::vector<int> batch_offset;  // per data set, in the order of VelmarFile::sets
  size_t size() const { return asu_hkl.size(); }
};

UnmergedTable unmerged_table(const VelmarFile& f, const gemmi::SpaceGroup& sg);

// Offsets that keep the batch numbers of the data sets apart and positive: the first data
// set keeps its image numbers (lifted to start at 1 only when they do not), each further
// data set whose images overlap those before it is lifted by the smallest multiple of 1000
// that puts it above them. `first` and `last` are the rounded image numbers of each data
// set (first > last for a data set without records).
std::vector<int> batch_offsets(const std::vector<int>& first, const std::vector<int>& last);

}  // namespace velmar
