// A whole type library as one JSON document, for scripts, diffs and other tools: every fact
// the type-library service gives, in enumeration order. docs/quibrel-tlb-json.schema.json
// describes the document.
#pragma once

#include <QByteArray>

#include <cstdio>

class QJsonObject;
struct ITypeLib;

// The document for Lib as UTF-8 text, {"library": {...}, "types": [...]}, indented when
// Pretty, else on one line; ends with a line break. Whatever the service cannot read is an
// object {"error": "0xHHHHHHHH"} in place of the item; the rest is still complete.
QByteArray LibraryJsonText(ITypeLib* Lib, bool Pretty);

// Writes the same text to File as it is made; false when writing failed.
bool WriteLibraryJson(ITypeLib* Lib, bool Pretty, std::FILE* File);

// Any other JSON document (find's results), as QJsonDocument writes it, indented when Pretty,
// with its strings made valid Unicode first: an unpaired surrogate, which JSON text cannot
// carry, becomes U+FFFD, as in the library's document.
QByteArray JsonDocumentText(const QJsonObject& Document, bool Pretty);
