// Running `quibrel-tlb json` and `dump` from the tests, and the schema check of every JSON
// document the tests produced, run once the tests of the program are done.
#include "jsonrun.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

// Where the documents for the schema check are kept.
QTemporaryDir& Outputs() {
    static QTemporaryDir dir;
    return dir;
}
int outputCount = 0;

}  // namespace

void KeepForSchemaCheck(const QByteArray& text) {
    QFile f(Outputs().filePath(QStringLiteral("%1.json").arg(++outputCount, 5, 10, QLatin1Char('0'))));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) ADD_FAILURE() << "cannot keep " << f.fileName().toStdString();
}

namespace {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ToolRun Run(const std::string& cmd) {
    ToolRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[65536];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, qsizetype(n));
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

JsonRun Parsed(const ToolRun& run) {
    JsonRun r{run.status, run.out, {}, {}};
    QJsonParseError err;
    QJsonDocument doc = QJsonDocument::fromJson(run.out, &err);
    if (err.error != QJsonParseError::NoError) r.parseError = err.errorString();
    else if (!doc.isObject()) r.parseError = QStringLiteral("not an object");
    r.doc = doc.object();
    if (r.parseError.isEmpty()) KeepForSchemaCheck(run.out);
    return r;
}

// Runs the schema check over every kept document once the tests are done.
class SchemaCheck : public testing::Environment {
public:
    void TearDown() override {
        if (outputCount == 0) return;
        std::string cmd = Quote(QUIBREL_PYTHON3) + ' ' + Quote(std::string(QUIBREL_SOURCE_DIR) + "/tests/json/validate.py") + ' ' +
                          Quote(std::string(QUIBREL_SOURCE_DIR) + "/docs/quibrel-tlb-json.schema.json") + ' ' +
                          Quote(Outputs().path().toStdString()) + " 2>&1";
        ToolRun r = Run(cmd);
        EXPECT_EQ(r.status, 0) << "documents that do not match docs/quibrel-tlb-json.schema.json:\n"
                               << r.out.toStdString();
    }
};
const auto* const schemaCheck = testing::AddGlobalTestEnvironment(new SchemaCheck);

}  // namespace

ToolRun RunTool(const std::string& command, const std::string& file, const std::string& extra) {
    std::string cmd = Quote(QUIBREL_TLB) + ' ' + command;
    if (!file.empty()) cmd += ' ' + Quote(file);
    if (!extra.empty()) cmd += ' ' + extra;
    return Run(cmd + " 2>/dev/null");
}

JsonRun RunJson(const std::string& file, bool pretty) { return Parsed(RunTool("json", file, pretty ? "--pretty" : "")); }

std::string Fixture(const std::string& name) { return (fs::path(QUIBREL_FIXTURE_DIR) / name).string(); }

ToolRun RunPipeline(const std::string& file, const std::string& command) {
    std::string pipeline = Quote(QUIBREL_TLB) + " json " + Quote(file) + " | " + command;
    return Run("bash -o pipefail -c " + Quote(pipeline) + " 2>/dev/null");
}
