"""platform_names.py PREPROCESSED DEFINES NAMES: the table of src/writers/header_platform.inc.

PREPROCESSED is `x86_64-w64-mingw32-gcc -E -x c` of a file including <windows.h> and <ole2.h>,
DEFINES the same with -dM, NAMES every name the real libraries use, one per line (for example
from `quibrel-tlb json`). Prints one line per name the platform's headers declare too: its kind
(struct, union, enum: a tag only; type, enumerator, function, macro, alias: a macro that
renames the name to another of the platform), the name, the guard of the declaring header, the header."""
import re, sys, os
pre, dm, names = sys.argv[1], sys.argv[2], set(open(sys.argv[3]).read().split())
tok = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'|[A-Za-z_]\w*|\d[\w.]*|\S')
guards = {}
def guard(path):
    if path not in guards:
        g = None
        try:
            lines = open(path, errors='replace').read().split('\n')
            for i, l in enumerate(lines):
                m = re.match(r'\s*#\s*(?:ifndef\s+(\w+)|if\s+!\s*defined\s*\(?\s*(\w+))', l)
                if m and (m.group(1) or m.group(2)) != '__REQUIRED_RPCNDR_H_VERSION__':
                    name = m.group(1) or m.group(2)
                    if any(re.match(r'\s*#\s*define\s+' + name + r'\b', l2) for l2 in lines[i+1:i+4]):
                        g = name
                        break
        except OSError:
            pass
        guards[path] = g
    return guards[path]
kinds = {}  # name -> (kind, file)
cur = None
toks = []
for line in open(pre, errors='replace'):
    m = re.match(r'# (\d+) "([^"]+)"', line)
    if m:
        cur = m.group(2); continue
    for t in tok.findall(line):
        toks.append((t, cur))
KW = {'struct','union','enum','typedef','const','volatile','unsigned','signed','int','long','short','char','void','float','double','extern','static','__attribute__','__declspec','__inline__','inline','__stdcall','__cdecl','_Bool','__int64','__restrict__','__extension__','register','__asm__'}
depth = 0; pdepth = 0
i = 0; n = len(toks)
stmt = []
while i < n:
    t, f = toks[i]
    if t in ('struct','union','enum') and i+2 < n and re.match(r'[A-Za-z_]\w*$', toks[i+1][0]):
        j = i+1
        if toks[j+1][0] == '{' and toks[j][0] in names:
            kinds.setdefault(toks[j][0], (t, f))
    if t == 'enum' :
        # enumerators
        j = i+1
        while j < n and toks[j][0] not in ('{', ';'): j += 1
        if j < n and toks[j][0] == '{':
            d = 0; k = j
            while k < n:
                if toks[k][0] == '{': d += 1
                elif toks[k][0] == '}':
                    d -= 1
                    if d == 0: break
                elif d == 1 and re.match(r'[A-Za-z_]\w*$', toks[k][0]) and toks[k-1][0] in ('{', ',') and toks[k][0] in names:
                    kinds.setdefault(toks[k][0], ('enumerator', f))
                k += 1
    if t == '{': depth += 1
    elif t == '}': depth -= 1
    elif t == '(': pdepth += 1
    elif t == ')': pdepth -= 1
    if depth == 0:
        stmt.append((t, f, pdepth))
        if t == ';':
            if stmt and stmt[0][0] == 'typedef':
                for k, (a, ff, pd) in enumerate(stmt):
                    if k > 0 and stmt[k-1][0] in ('struct', 'union', 'enum'):
                        continue  # a tag, not the typedef's name
                    if a in names and a not in KW and (pd == 0 or (pd == 1 and 1 < k < len(stmt) - 1 and stmt[k-1][0] == '*' and stmt[k+1][0] == ')' and stmt[k-2][0] in '()')):
                        if kinds.get(a, ('',))[0] in ('', 'struct', 'union', 'enum'):
                            kinds[a] = ('type', ff)
            else:
                for k, (a, ff, pd) in enumerate(stmt[:-1]):
                    if a in names and a not in KW and pd == 0 and stmt[k+1][0] == '(' and k > 0:
                        kinds.setdefault(a, ('function', ff))
            stmt = []
    i += 1
for line in open(dm):
    m = re.match(r'#define (\w+)(\(?)(.*)', line)
    if not m or m.group(1) not in names: continue
    body = m.group(3).strip()
    if m.group(2) or not re.match(r'[A-Za-z_]\w*$|__MINGW_NAME_(AW|UAW)\(\w+\)$', body):
        kinds[m.group(1)] = ('macro', None)
    elif m.group(1) not in kinds:
        # Another name for a function or type (GetObject for GetObjectA): a declaration of the
        # library under the name would declare the platform's.
        kinds[m.group(1)] = ('alias', None)
for name in sorted(kinds):
    k, f = kinds[name]
    print(k, name, (guard(f) if f else '') or '-', os.path.basename(f) if f else '')
