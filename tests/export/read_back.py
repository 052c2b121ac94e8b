#!/usr/bin/python3
"""Prints what the export tests compare of an MTZ or mmCIF file, as gemmi reads it.

    read_back.py mtz FILE   header, data sets, batches, columns (LABEL:TYPE), one line per row
    read_back.py cif FILE   every category of the file's one block as a table

Lines are tab-separated, each starting with a word naming its kind; reals are printed with
repr(). Rows of an unmerged MTZ file carry the indices as measured (switch_to_original_hkl
applies M/ISYM); "outside_asu" counts stored indices outside gemmi's asymmetric unit;
"symm_group" is the group of the SYMM records, which alone tell an origin choice.
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
    records = (data[p:p + 80].decode('ascii', 'replace').strip() for p in range(start, len(data) - 79, 80))
    ops = []
    for record in records:
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
    asu, (h, k, l) = gemmi.ReciprocalAsu(sg), mtz.columns[:3]
    line('outside_asu', sum(not asu.is_in([int(h[i]), int(k[i]), int(l[i])]) for i in range(mtz.nreflections)))
    if mtz.batches:
        mtz.switch_to_original_hkl()
    line('loop', *(c.label + ':' + c.type for c in mtz.columns))
    for i in range(mtz.nreflections):
        line('row', *(real(c[i]) for c in mtz.columns))


def read_cif(path):
    block = gemmi.cif.read(path).sole_block()
    line('block', block.name)
    for name in block.get_mmcif_category_names():
        table = block.find_mmcif_category(name)
        line('loop', *table.tags)
        for r in range(len(table)):
            values = (table[r][c] for c in range(table.width()))
            line('row', *(v if v in ('?', '.') else gemmi.cif.as_string(v) for v in values))


if __name__ == '__main__':
    if len(sys.argv) != 3 or sys.argv[1] not in ('mtz', 'cif'):
        sys.exit('usage: read_back.py mtz|cif FILE')
    (read_mtz if sys.argv[1] == 'mtz' else read_cif)(sys.argv[2])
