#!/usr/bin/env python3
# Writes blowfish_tables.cpp: the initial P-array and S-boxes of the block
# cipher, the first 8336 fractional hexadecimal digits of pi.
import sys

N = 8336
GUARD = 16
one = 1 << (4 * (N + GUARD))
def arctan_inv(x):
    total = 0
    term = one // x
    k = 1
    x2 = x * x
    sign = 1
    while term:
        total += sign * (term // k)
        term //= x2
        k += 2
        sign = -sign
    return total
pi = 16 * arctan_inv(5) - 4 * arctan_inv(239)
pi >>= 4 * GUARD
h = format(pi, 'x')
assert h[0] == '3'
frac = h[1:1 + N]
assert len(frac) == N
words = [frac[i:i+8] for i in range(0, N, 8)]
P = words[:18]
S = [words[18 + 256*i: 18 + 256*(i+1)] for i in range(4)]
out = []
out.append('// Initial cipher constants: the fractional hexadecimal digits of pi, taken')
out.append('// eight digits at a time, first the 18 P-array words, then the four S-boxes.')
out.append('// Written by make_blowfish_tables.py, which computes pi with exact integer')
out.append('// arithmetic (Machin\'s formula); do not edit by hand.')
out.append('#include "engine/crypto/blowfish_tables.h"')
out.append('')
out.append('namespace strata::blowfish_tables {')
out.append('')
def emit(name, ws):
    out.append(f'const std::array<std::uint32_t, {len(ws)}> {name} = {{')
    for i in range(0, len(ws), 6):
        out.append('    ' + ' '.join(f'0x{w.upper()}u,' for w in ws[i:i+6]))
    out.append('};')
emit('kInitialP', P)
out.append('')
out.append(f'const std::array<std::array<std::uint32_t, 256>, 4> kInitialS = {{{{')
for i in range(4):
    out.append('  {{')
    for j in range(0, 256, 6):
        out.append('    ' + ' '.join(f'0x{w.upper()}u,' for w in S[i][j:j+6]))
    out.append('  }},')
out.append('}};')
out.append('')
out.append('}  // namespace strata::blowfish_tables')
open(sys.argv[1] if len(sys.argv) > 1 else 'blowfish_tables.cpp', 'w').write('\n'.join(out) + '\n')
