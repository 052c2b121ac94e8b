#!/usr/bin/python3
"""Reads an MTZ or mmCIF file with gemmi and prints what the export tests compare.

    read_back.py mtz FILE     header, data sets, batches (number, data set, cell,
                              wavelength), then the columns (LABEL:TYPE) and one line per row
    read_back.py cif FILE     every category of the file's one block as a table (a
                              category of pairs as a table of one row)

Every line is tab-separated and starts with a word naming its kind. Reals are printed with
repr(), which reads back as the same number. Rows of an unmerged MTZ file are printed with
the indices as measured (gemmi's switch_to_original_hkl applies M/ISYM); "outside_asu"
counts the rows whose stored indices lie outside gemmi's reciprocal asymmetric unit;
"symm_group" names the group of the SYMM records, which alone tell an origin choice.
"""
import struct
import sys

import gemmi


def line(*fields):
    print('\t'.join(str(f) for f in fields))


def real(v):
    return repr(float(v))


def symm_records(path):
    """The operators of the SYMM records of the MTZ header (not read by gemmi 0.5.7)."""
    with open(path, 'rb') as f:
        data = f.read()
    start = (struct.unpack('<i', data[4:8])[0] - 1) * 4
    ops = []
    for pos in range(start, len(data) - 79, 80):
        record = data[pos:pos + 80].decode('ascii', 'replace').strip()
        if record == 'END':
            break
        if record.startswith('SYMM '):
            ops.append(gemmi.Op(record[5:].replace(' ', '').lower()))
    return ops


def read_mtz(path):
    mtz = gemmi.read_mtz_file(path)
    sg = mtz.spacegroup
    line('spacegroup', sg.number, sg.ccp4, sg.xhm())
    symm = gemmi.find_spacegroup_by_ops(gemmi.GroupOps(symm_records(path)))
    line('symm_group', symm.number if symm else 0, symm.xhm() if symm else '?')
    line('cell', *(real(x) for x in mtz.cell.parameters))
    line('sort', *mtz.sort_order)
    for d in mtz.datasets:
        line('dataset', d.id, d.project_name, d.crystal_name, d.dataset_name, real(d.wavelength))
    for b in mtz.batches:
        line('batch', b.number, b.dataset_id, *(real(x) for x in b.floats[:6]), real(b.floats[86]))
    asu = gemmi.ReciprocalAsu(sg)
    h, k, l = mtz.columns[0], mtz.columns[1], mtz.columns[2]
    line('outside_asu', sum(1 for i in range(mtz.nreflections)
                            if not asu.is_in([int(h[i]), int(k[i]), int(l[i])])))
    if mtz.batches:
        mtz.switch_to_original_hkl()
    columns = list(mtz.columns)
    line('loop', *(c.label + ':' + c.type for c in columns))
    for i in range(mtz.nreflections):
        line('row', *(real(c[i]) for c in columns))


def cif_value(v):
    return v if v in ('?', '.') else gemmi.cif.as_string(v)


def read_cif(path):
    block = gemmi.cif.read(path).sole_block()
    line('block', block.name)
    for name in block.get_mmcif_category_names():
        table = block.find_mmcif_category(name)
        line('loop', *table.tags)
        for r in range(len(table)):
            line('row', *(cif_value(table[r][c]) for c in range(table.width())))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ('mtz', 'cif'):
        sys.exit('usage: read_back.py mtz|cif FILE')
    (read_mtz if sys.argv[1] == 'mtz' else read_cif)(sys.argv[2])


if __name__ == '__main__':
    main()
