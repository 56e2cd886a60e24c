#include <gtest/gtest.h>

#include "app/process_init.h"

int main(int argc, char** argv) {
    InitProcess();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
