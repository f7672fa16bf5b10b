// A whole type library as one JSON document, for scripts, diffs and other tools: every fact
// the type-library service gives, in enumeration order. docs/quibrel-tlb-json.schema.json
// describes the document.
#pragma once

#include <QByteArray>
#include <QJsonObject>

struct ITypeLib;

// The document for Lib as UTF-8 text, {"library": {...}, "types": [...]}, indented when
// Pretty, else on one line; ends with a line break. Whatever the service cannot read is an
// object {"error": "0xHHHHHHHH"} in place of the item; the rest is still complete.
QByteArray LibraryJsonText(ITypeLib* Lib, bool Pretty);

// The same document, parsed.
QJsonObject LibraryJson(ITypeLib* Lib);
