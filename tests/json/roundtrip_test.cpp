// Every field `dump` prints, read back from the JSON document of each fixture.
#include "jsonrun.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonRoundTrip, EveryDumpFieldOfEachFixtureReadsBackFromTheJson) {
    for (const char* name : {"QuibrelTest.tlb", "QuibrelShared.tlb", "QuibrelEvents.tlb", "QuibrelJson.tlb",
                             "QuibrelHidden.tlb", "win32/QuibrelTest.tlb", "win32/QuibrelEvents.tlb",
                             "QuibrelTest64.dll", "QuibrelPair.dll\\2", "lonely/QuibrelTest.tlb"})
        EXPECT_TRUE(ExpectSameFacts(Fixture(name)));
}

}  // namespace
