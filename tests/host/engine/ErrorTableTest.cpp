// The error lines, word for word as the user reads them in the log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "engine/ErrorMessages.h"
#include "engine/FlashEngine.h"
#include "tests/host/engine/EngineTestSupport.h"

namespace {

using namespace enginetest;

TEST(ErrorTableTest, EveryCodeLogsItsLine) {
    const char* const expected[16] = {
        "ERR: fail to initial IDE port, please reboot PC!",
        "ERR: fail to initial IDE port, check the IDE port!",
        "ERR: fail to open output file!",
        "ERR: fail to open input file!",
        "ERR: fail to write output file!",
        "ERR: fail to read input file!",
        "ERR: input file format mismatched!",
        "ERR: fail to read flash!",
        "ERR: fail to write flash!",
        "ERR: fail to erase flash!",
        "ERR: verify flash failed!",
        "ERR: fail to allocate memory!",
        "ERR: fail to identify the flash type!",
        "ERR: flash size is smaller then the selected address!",
        "ERR: terminate upgrade/backup flash!",
        "ERR: terminate wait flash read/write!",
    };
    telvio::FlashEngine engine(MakeJob("unused", false));
    size_t longest = 0;
    for (uint8_t code = 0; code < 16; ++code) {
        engine.ReportError(code);
        ASSERT_EQ(Seen().log.size(), code + 1u);
        EXPECT_EQ(Seen().log.back(), expected[code]) << "code " << int(code);
        longest = std::max(longest, Seen().log.back().size());
    }
    EXPECT_EQ(longest, 53u);
    // Reporting touches nothing else the window shows.
    EXPECT_TRUE(Seen().status.empty());
    EXPECT_TRUE(Seen().progress.empty());
}

TEST(ErrorTableTest, CodeOutsideTheTableLogsNothing) {
    telvio::FlashEngine engine(MakeJob("unused", false));
    engine.ReportError(16);
    engine.ReportError(255);
    EXPECT_TRUE(Seen().log.empty());
    char line[telvio::kErrorLineSize] = "x";
    EXPECT_FALSE(telvio::FormatErrorLine(16, line));
    EXPECT_STREQ(line, "");
}

}  // namespace
