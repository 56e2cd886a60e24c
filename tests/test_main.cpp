#include "app/process_init.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    InitProcess();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
