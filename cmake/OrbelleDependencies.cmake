# Third-party libraries, all from Debian packages (the list is scripts/packages.txt).
find_package(GTest REQUIRED)
find_package(TIFF REQUIRED)
find_package(JPEG REQUIRED)
# The player: its layered window on an X display, and its sounds through OpenAL and ALUT.
find_package(X11 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(OPENAL REQUIRED IMPORTED_TARGET openal)
pkg_check_modules(ALUT REQUIRED IMPORTED_TARGET freealut)
# The player's start sheet, menus and dialogs.
find_path(FLTK_INCLUDE_DIR FL/Fl.H REQUIRED)
find_library(FLTK_LIBRARY fltk REQUIRED)
if(ORBELLE_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()

# Links the third-party libraries that src/ uses to a target built from src/ sources.
# libjpeg is public: the imaging tests compare the decoder with libjpeg's own output.
function(orbelle_link_dependencies target)
    target_link_libraries(${target} PRIVATE TIFF::TIFF)
    target_link_libraries(${target} PUBLIC JPEG::JPEG)
    target_link_libraries(${target} PRIVATE X11::X11 PkgConfig::ALUT PkgConfig::OPENAL)
    target_include_directories(${target} SYSTEM PRIVATE ${FLTK_INCLUDE_DIR})
    target_link_libraries(${target} PRIVATE ${FLTK_LIBRARY})
endfunction()
