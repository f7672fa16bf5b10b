#!/usr/bin/env python3
"""Checks JSON documents against a JSON Schema: validate.py SCHEMA FILE_OR_FOLDER...

The schema itself is checked with jsonschema; documents are checked with a compiled validator
(fastjsonschema: libraries give megabytes of JSON), and jsonschema explains any that fail.
Exits 1 if any document does not validate."""
import json
import os
import sys

try:
    import fastjsonschema
    import jsonschema
except ImportError as e:
    sys.exit(f"{e.name} is missing: scripts/install-deps.sh installs python3-jsonschema and python3-fastjsonschema")


def files(paths):
    for p in paths:
        if os.path.isdir(p):
            for name in sorted(os.listdir(p)):
                yield os.path.join(p, name)
        else:
            yield p


def deepest(error):
    """Of the alternatives an error stands for, the one that got furthest into the document."""
    best = error
    for sub in error.context or []:
        d = deepest(sub)
        if len(d.absolute_path) > len(best.absolute_path):
            best = d
    return best


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    reference = jsonschema.validators.validator_for(schema)
    reference.check_schema(schema)
    fast = fastjsonschema.compile(schema)
    bad = count = 0
    for path in files(sys.argv[2:]):
        count += 1
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
        try:
            fast(doc)
            continue
        except fastjsonschema.JsonSchemaException as e:
            first = e.message
        bad += 1
        print(f"{path}: {first}")
        for e in reference(schema).iter_errors(doc):
            e = deepest(e)
            where = "/".join(str(p) for p in e.absolute_path)
            print(f"  at /{where}: {e.message[:300]}")
    print(f"{count} document(s), {bad} invalid")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
