#!/usr/bin/python3
"""Generates src/symmetry/spacegroup_tables.cpp, the compiled-in space-group tables.

Development tool only: run it by hand with a Python that has gemmi installed,
    /usr/bin/python3 tools/gen_spacegroups.py [output.cpp]
and commit the result. Nothing runs it at build time.

Table entries:
  1..230    the space groups by International Tables number. Monoclinic groups in the
            unique-axis-c setting of the old first setting (P112, P1121, B112, P11m, P11b,
            B11m, B11b, P112/m, P1121/m, B112/m, P112/b, P1121/b, B112/b), i.e. the
            standard unique-axis-b setting with the axes relabelled (a, -c, b); the seven
            R groups on rhombohedral axes; origin choice 2 for 50 and 228, origin
            choice 1 for the other two-origin groups.
  231..243  the monoclinic groups 3..15 in the standard unique-axis-b setting.
  244..250  the R groups 146, 148, 155, 160, 161, 166, 167 on hexagonal axes (obverse).

Operator order: identity, then the coset representatives in the order gemmi generates
them from the Hall generators (Dimino's algorithm: powers of the first generator,
then for each further generator its products with the elements found so far), then
the whole list again for each centring vector in ascending order. Translations are
reduced to 0..11 twelfths.

Every entry is checked for closure and inverses, its operator set is compared with
CCP4's symop.lib wherever that file has the same setting, and the rows that pin down
settings and order are asserted verbatim.
"""
import os
import sys
from fractions import Fraction

import gemmi

SYMOP_LIB = '/usr/share/ccp4/symop.lib'
R_GROUPS = [146, 148, 155, 160, 161, 166, 167]
TWO_ORIGIN_CHOICE_2 = (50, 228)
# gemmi qualifiers of the unique-axis-c (first setting) monoclinic groups.
MONO_C = {3: 'c', 4: 'c', 5: 'c2', 6: 'c', 7: 'c3', 8: 'c2', 9: '-c1', 10: 'c', 11: 'c',
          12: 'c2', 13: 'c3', 14: 'c3', 15: '-c1'}
MONO_B = {n: ('b' if n in (3, 4, 6, 10, 11) else 'b1') for n in range(3, 16)}
N_ENTRIES, N_OPS, N_ROT, N_TRA = 250, 4528, 64, 56
CENTRING_CODES = {  # sorted nonzero centring vectors (twelfths) -> lattice-centring code
    (): 0,
    ((6, 6, 0),): 1,
    ((6, 0, 6),): 2,
    ((0, 6, 6),): 3,
    ((6, 6, 6),): 4,
    ((4, 8, 8), (8, 4, 4)): 5,
    ((0, 6, 6), (6, 0, 6), (6, 6, 0)): 6,
}


def fail(msg):
    sys.exit('gen_spacegroups: ' + msg)


def check(cond, msg):
    if not cond:
        fail(msg)


# ---------------------------------------------------------------- choosing the settings

ITB = list(gemmi.spacegroup_table_itb())


def find_setting(number, qualifier=None, ext=None):
    for sg in ITB:
        if sg.number != number:
            continue
        if qualifier is not None and sg.qualifier != qualifier:
            continue
        if ext is not None and sg.ext != ext:
            continue
        return sg
    fail('no setting %d %r %r' % (number, qualifier, ext))


def entry_settings():
    settings = []
    for n in range(1, 231):
        if n in MONO_C:
            settings.append(find_setting(n, MONO_C[n]))
        elif n in R_GROUPS:
            settings.append(find_setting(n, ext='R'))
        elif n in TWO_ORIGIN_CHOICE_2:
            settings.append(find_setting(n, '', '2'))
        else:
            sg = find_setting(n)  # gemmi's first setting: standard, origin choice 1
            check(sg.ext in ('\0', '1', 'H'), 'unexpected default setting of %d' % n)
            settings.append(sg)
    for n in range(3, 16):
        settings.append(find_setting(n, MONO_B[n]))
    for n in R_GROUPS:
        settings.append(find_setting(n, ext='H'))
    check(len(settings) == N_ENTRIES, 'entry count')
    return settings


# ------------------------------------------------------------------- building operators

def to_twelfths(v24):
    check(v24 % 2 == 0, 'translation not in twelfths')
    return (v24 // 2) % 12


def entry_operators(sg):
    """List of (rotation 3x3 tuple, translation tuple in twelfths) in table order."""
    ops = gemmi.symops_from_hall(sg.hall)
    cens = sorted(tuple(to_twelfths(x) for x in c) for c in ops.cen_ops)
    check(cens[0] == (0, 0, 0), 'first centring vector not zero')
    result = []
    for cen in cens:
        for op in ops.sym_ops:
            for row in op.rot:
                for x in row:
                    check(x % gemmi.Op.DEN == 0, 'non-integral rotation')
            rot = tuple(tuple(x // gemmi.Op.DEN for x in row) for row in op.rot)
            tra = tuple((to_twelfths(t) + c) % 12 for t, c in zip(op.tran, cen))
            result.append((rot, tra))
    return result, tuple(cens[1:])


def compose(a, b):
    """Operator a applied after b, translations mod 12."""
    ra, ta = a
    rb, tb = b
    rot = tuple(tuple(sum(ra[i][k] * rb[k][j] for k in range(3)) for j in range(3))
                for i in range(3))
    tra = tuple((sum(ra[i][k] * tb[k] for k in range(3)) + ta[i]) % 12 for i in range(3))
    return rot, tra


IDENTITY = (((1, 0, 0), (0, 1, 0), (0, 0, 1)), (0, 0, 0))
INVERSION = ((-1, 0, 0), (0, -1, 0), (0, 0, -1))


def check_group(entry, ops, cens):
    check(ops[0] == IDENTITY, 'entry %d: identity not first' % entry)
    opset = set(ops)
    check(len(opset) == len(ops), 'entry %d: duplicate operators' % entry)
    for a in ops:
        check(IDENTITY in {compose(a, b) for b in ops}, 'entry %d: inverse missing' % entry)
        for b in ops:
            check(compose(a, b) in opset, 'entry %d: not closed' % entry)
    nrot = len({r for r, _ in ops})
    check(len(ops) == nrot * (len(cens) + 1), 'entry %d: NEQ != rotations x lattice points'
          % entry)
    check(cens in CENTRING_CODES, 'entry %d: unknown centring %r' % (entry, cens))


# --------------------------------------------------------- cross-check against symop.lib

def parse_symop(text):
    """'1/2+X,-Y,Z' -> (rotation, translation in twelfths), independent of gemmi."""
    rows, tra = [], []
    for part in text.replace(' ', '').upper().split(','):
        row, t, i = [0, 0, 0], Fraction(0), 0
        while i < len(part):
            sign = 1
            if part[i] in '+-':
                sign = -1 if part[i] == '-' else 1
                i += 1
            if part[i] in 'XYZ':
                row['XYZ'.index(part[i])] += sign
                i += 1
            else:
                j = i
                while j < len(part) and part[j] not in '+-XYZ':
                    j += 1
                t += sign * Fraction(part[i:j])
                i = j
        rows.append(tuple(row))
        tra.append(int(t * 12) % 12)
        check(t * 12 == int(t * 12), 'symop.lib translation not in twelfths: ' + text)
    check(len(rows) == 3, 'bad symop ' + text)
    return tuple(rows), tuple(tra)


def read_symop_lib(path):
    groups = {}
    if not os.path.exists(path):
        return groups
    with open(path) as f:
        lines = f.read().splitlines()
    i = 0
    while i < len(lines):
        head = lines[i].split()
        number, nops = int(head[0]), int(head[1])
        ops = []
        i += 1
        while len(ops) < nops:
            ops += [parse_symop(s) for s in lines[i].split('*') if s.strip()]
            i += 1
        groups[number] = ops
    return groups


# ---------------------------------------------------------------------- telling rows

def triplet_ops(text):
    return [parse_symop(t) for t in text.split(';')]


def shifted(ops, t):
    return [(r, tuple((a + b) % 12 for a, b in zip(tr, t))) for r, tr in ops]


def check_telling_rows(entries, codes):
    p38 = triplet_ops('x,y,z;-x,-y,z;-x,y,z;x,-y,z')
    r3 = triplet_ops('x,y,z;-y,x-y,z;-x+y,-x,z')
    rows = {
        1: (0, triplet_ops('x,y,z')),
        3: (0, triplet_ops('x,y,z;-x,-y,z')),
        5: (2, triplet_ops('x,y,z;-x,-y,z;x+1/2,y,z+1/2;-x+1/2,-y,z+1/2')),
        19: (0, triplet_ops('x,y,z;-x+1/2,-y,z+1/2;x+1/2,-y+1/2,-z;-x,y+1/2,-z+1/2')),
        38: (3, p38 + shifted(p38, (0, 6, 6))),
        146: (0, triplet_ops('x,y,z;z,x,y;y,z,x')),
        231: (0, triplet_ops('x,y,z;-x,y,-z')),
        233: (1, triplet_ops('x,y,z;-x,y,-z;x+1/2,y+1/2,z;-x+1/2,y+1/2,-z')),
        244: (5, r3 + shifted(r3, (4, 8, 8)) + shifted(r3, (8, 4, 4))),
    }
    for entry, (code, ops) in rows.items():
        check(codes[entry - 1] == code, 'telling row %d: centring code' % entry)
        check(entries[entry - 1] == ops, 'telling row %d: operators or order' % entry)
    check(len(entries[0]) == 1, 'entry 1 NEQ')
    for e in (225, 226, 227, 228):
        check(len(entries[e - 1]) == 192, 'entry %d NEQ' % e)
    check(max(len(ops) for ops in entries) == 192, 'NEQ above 192')


# ------------------------------------------------------------------------ C++ output

def number_lines(values, per_line, indent='    '):
    out = []
    for i in range(0, len(values), per_line):
        out.append(indent + ', '.join(str(v) for v in values[i:i + per_line]) + ',')
    return '\n'.join(out)


def row_lines(rows, per_line, indent='    '):
    out = []
    for i in range(0, len(rows), per_line):
        out.append(indent + ' '.join('{' + ', '.join(str(v) for v in r) + '},'
                                     for r in rows[i:i + per_line]))
    return '\n'.join(out)


def render(dbu, dbt, uidx, tidx, beg, neq, abst):
    pad = [0] * (256 - N_ENTRIES)
    return '\n'.join([
        '// Space-group tables: 250 entries of general positions in integer form.',
        '// Generated by tools/gen_spacegroups.py; do not edit by hand.',
        '#include "symmetry/spacegroup_tables.hpp"',
        '',
        'namespace velmar::sgtab {',
        '',
        '// Distinct rotation matrices, row by row; 1 = identity, 2 = inversion.',
        'const std::int16_t DBU[kRotations][9] = {',
        row_lines(dbu, 3),
        '};',
        '',
        '// Distinct translation vectors in twelfths; 1 = (0,0,0).',
        'const std::int16_t DBT[kTranslations][3] = {',
        row_lines(dbt, 6),
        '};',
        '',
        '// Row number (1-based) in DBU of every operator of every entry.',
        'const std::int16_t DBUIDX[kOperators] = {',
        number_lines(uidx, 24),
        '};',
        '',
        '// Row number (1-based) in DBT of every operator of every entry.',
        'const std::int16_t DBTIDX[kOperators] = {',
        number_lines(tidx, 24),
        '};',
        '',
        '// 0-based start of each entry in DBUIDX / DBTIDX.',
        'const std::int16_t DBBEG[kReserved] = {',
        number_lines(beg + pad, 16),
        '};',
        '',
        '// Number of operators of each entry.',
        'const std::int16_t DBNEQ[kReserved] = {',
        number_lines(neq + pad, 24),
        '};',
        '',
        '// Lattice-centring code of each entry: 0 P, 1 C, 2 B, 3 A, 4 I, 5 R (obverse), 6 F.',
        'const std::int16_t ABSTABLE[kReserved] = {',
        number_lines(abst + pad, 32),
        '};',
        '',
        '}  // namespace velmar::sgtab',
        '',
    ])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, '..', 'src', 'symmetry', 'spacegroup_tables.cpp')
    settings = entry_settings()
    symop_lib = read_symop_lib(SYMOP_LIB)
    entries, codes, compared = [], [], 0
    for k, sg in enumerate(settings, start=1):
        ops, cens = entry_operators(sg)
        check_group(k, ops, cens)
        if sg.ccp4 in symop_lib:
            check(set(ops) == set(symop_lib[sg.ccp4]),
                  'entry %d differs from symop.lib %d' % (k, sg.ccp4))
            compared += 1
        entries.append(ops)
        codes.append(CENTRING_CODES[cens])
    check_telling_rows(entries, codes)

    dbu, dbt, uidx, tidx, beg, neq = [], [], [], [], [], []
    for ops in entries:
        beg.append(len(uidx))
        neq.append(len(ops))
        for rot, tra in ops:
            flat = tuple(x for row in rot for x in row)
            if flat not in dbu:
                dbu.append(flat)
            if tra not in dbt:
                dbt.append(tra)
            uidx.append(dbu.index(flat) + 1)
            tidx.append(dbt.index(tra) + 1)
    check(len(uidx) == N_OPS, 'operator total %d' % len(uidx))
    check(len(dbu) == N_ROT, 'rotation count %d' % len(dbu))
    check(len(dbt) == N_TRA, 'translation count %d' % len(dbt))
    check(dbu[0] == (1, 0, 0, 0, 1, 0, 0, 0, 1), 'DBU entry 1 is not the identity')
    check(dbu[1] == tuple(x for row in INVERSION for x in row), 'DBU entry 2 not inversion')
    check(dbt[0] == (0, 0, 0), 'DBT entry 1 is not zero')
    with open(out_path, 'w') as f:
        f.write(render(dbu, dbt, uidx, tidx, beg, neq, codes))
    print('wrote %s: %d entries, %d operators, %d rotations, %d translations; '
          '%d entries compared with symop.lib' % (out_path, len(entries), len(uidx),
                                                  len(dbu), len(dbt), compared))


if __name__ == '__main__':
    main()
