#include "core/operation_log.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class OperationLogTest : public testing::Test {
protected:
    void TearDown() override {
        OperationLogSetPath("");
        OperationLogSetSwitch(nullptr);
    }
    std::string Read() const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    TempFolder tmp;
    std::string path = tmp.Str() + "/ops.log";
    std::uint8_t loggingSwitch = 1;
};

TEST_F(OperationLogTest, WritesOnlyWithPathAndSwitchOn) {
    OperationLogSetSwitch(&loggingSwitch);
    AppendToLogFile("Op: Move\n");  // no path yet
    EXPECT_FALSE(std::filesystem::exists(path));

    OperationLogSetPath(path);
    OperationLogSetSwitch(nullptr);  // no settings record
    AppendToLogFile("Op: Move\n");
    EXPECT_FALSE(std::filesystem::exists(path));

    OperationLogSetSwitch(&loggingSwitch);
    loggingSwitch = 0;
    AppendToLogFile("Op: Move\n");
    EXPECT_FALSE(std::filesystem::exists(path));

    loggingSwitch = 1;
    AppendToLogFile("Op: Move\n");
    AppendToLogFile("Op: Scale\n");
    EXPECT_EQ(Read(), "Op: Move\nOp: Scale\n");
}

TEST_F(OperationLogTest, RestartsOnlyPastTheLimit) {
    OperationLogSetPath(path);
    OperationLogSetSwitch(&loggingSwitch);

    std::filesystem::resize_file(tmp.WriteFile("ops.log", ""), OperationLogLimitBytes);
    AppendToLogFile("kept\n");
    EXPECT_EQ(std::filesystem::file_size(path), OperationLogLimitBytes + 5);

    AppendToLogFile("fresh\n");
    EXPECT_EQ(Read(), "fresh\n");
}

TEST_F(OperationLogTest, UnwritablePathIsPassedOver) {
    OperationLogSetPath(tmp.Str() + "/no/such/folder/ops.log");
    OperationLogSetSwitch(&loggingSwitch);
    AppendToLogFile("Op: Move\n");
    SUCCEED();
}

}  // namespace
