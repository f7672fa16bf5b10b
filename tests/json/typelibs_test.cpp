// Every field `dump` prints, read back from the JSON document of each real-world library beside
// the project, and the README's jq examples on mshtml.tlb (skipped when they are absent).
#include "jsonrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

TEST(JsonRoundTrip, EveryDumpFieldOfTheRealWorldLibrariesReadsBackFromTheJson) {
    fs::path dir = fs::path(QUIBREL_TYPELIBS_DIR) / "files";
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no real-world libraries at " << dir << "; skipped";
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    int loaded = 0;
    for (const fs::path& f : files) loaded += ExpectSameFacts(f.string());
    EXPECT_GT(loaded, 200);
}

// The README's `quibrel-tlb json mshtml.tlb | jq ...` lines, run as they are written.
TEST(JsonReadme, TheJqExamplesWork) {
    fs::path mshtml = fs::path(QUIBREL_TYPELIBS_DIR) / "files" / "mshtml.tlb";
    if (!fs::exists(mshtml)) GTEST_SKIP() << "no " << mshtml << "; skipped";
    const std::string prefix = "quibrel-tlb json mshtml.tlb | jq ";
    std::ifstream readme(fs::path(QUIBREL_SOURCE_DIR) / "README.md");
    std::vector<std::string> examples;
    for (std::string line; std::getline(readme, line);)
        if (line.rfind(prefix, 0) == 0) examples.push_back(line.substr(prefix.size()));
    ASSERT_EQ(examples.size(), 3u);
    // A line each example prints, in README order.
    const char* const expected[] = {"IHTMLElement\t-2147417611\tsetAttribute", "IHTMLElement.parentElement",
                                    "7\tINVOKE_FUNC\tsetAttribute"};
    for (std::size_t i = 0; i < examples.size(); ++i) {
        SCOPED_TRACE(examples[i]);
        ToolRun r = RunPipeline(mshtml.string(), "jq " + examples[i]);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(("\n" + r.out.toStdString()).find(std::string("\n") + expected[i] + "\n"), std::string::npos);
    }
}

}  // namespace
