#include "app/process_init.h"
#include "modeller/q_kv_action.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    InitProcess();
    // Documents in tests carry the modeller's part, as the modeller's own documents do.
    InitModeller();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
