#include "app/process_init.h"

#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
    InitProcess();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
