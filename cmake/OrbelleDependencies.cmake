# Third-party libraries, all from Debian packages (the list is scripts/packages.txt).
find_package(GTest REQUIRED)
find_package(TIFF REQUIRED)
if(ORBELLE_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()

# Links the third-party libraries that src/ uses to a target built from src/ sources.
function(orbelle_link_dependencies target)
    target_link_libraries(${target} PRIVATE TIFF::TIFF)
endfunction()
