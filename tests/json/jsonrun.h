// Running `quibrel-tlb json` (and `dump`) from the tests. Every JSON document a test gets is
// also kept in a folder that the schema check at the end of the test program reads.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <ostream>
#include <string>

// Readable values in test failures.
inline void PrintTo(const QJsonValue& v, std::ostream* os) {
    *os << QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).toStdString();
}
inline void PrintTo(const QJsonObject& o, std::ostream* os) { PrintTo(QJsonValue(o), os); }
inline void PrintTo(const QJsonArray& a, std::ostream* os) { PrintTo(QJsonValue(a), os); }

struct ToolRun {
    int status = -1;
    QByteArray out;
};

// quibrel-tlb with the arguments, standard error discarded.
ToolRun RunTool(const std::string& command, const std::string& file, const std::string& extra = {});

// `quibrel-tlb json FILE | COMMAND` in bash with pipefail.
ToolRun RunPipeline(const std::string& file, const std::string& command);

struct JsonRun {
    int status = -1;
    QByteArray out;
    QJsonObject doc;
    QString parseError;  // empty when the output is one JSON object
};

// `quibrel-tlb json FILE`, parsed; the output goes to the schema check.
JsonRun RunJson(const std::string& file, bool pretty = false);

std::string Fixture(const std::string& name);

// The text `dump` prints for the same library, derived from its JSON document.
std::string DumpFromJson(const QJsonObject& doc);

// Keeps a document for the schema check at the end of the test program.
void KeepForSchemaCheck(const QByteArray& text);

// `dump` of the library and the dump derived from its JSON agree (reported as test failures);
// false when `dump` cannot load the library.
bool ExpectSameFacts(const std::string& file);
