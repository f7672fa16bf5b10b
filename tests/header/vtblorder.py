#!/usr/bin/env python3
"""vtblorder.py WIDL_HEADER OUR_HEADER: every ...Vtbl struct of our header is one widl's header
defines too, with the same methods in the same order. Exits 1 and names the first difference;
also when no Vtbl is shared."""
import re
import sys

VTBL = re.compile(r'typedef struct (\w+Vtbl)\s*\{(.*?)\}\s*\1;', re.S)
MEMBER = re.compile(r'\(\s*(?:STDMETHODCALLTYPE|__cdecl|__stdcall)\s*\*\s*(\w+)\s*\)')


def vtbls(path):
    text = open(path, encoding='utf-8', errors='replace').read()
    return {m.group(1): MEMBER.findall(m.group(2)) for m in VTBL.finditer(text)}


theirs, ours = vtbls(sys.argv[1]), vtbls(sys.argv[2])
shared = sorted(set(theirs) & set(ours) - {'IUnknownVtbl', 'IDispatchVtbl'})
missing = sorted(set(ours) - set(theirs))
if missing:
    print(f'not in {sys.argv[1]}: {" ".join(missing)}')
    sys.exit(1)
if not shared:
    print(f'no Vtbl in both {sys.argv[1]} and {sys.argv[2]}')
    sys.exit(1)
for name in shared:
    if theirs[name] != ours[name]:
        print(f'{name}: widl {theirs[name]}\n{" " * len(name)}  ours {ours[name]}')
        sys.exit(1)
print(f'{len(shared)} Vtbl structs in the same order')
