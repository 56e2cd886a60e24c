# Fails when a source under src/ includes a header of a folder above its own in the layer
# order. A lower layer reaches an upper one only through an interface it declares and the
# upper one implements; includes that must go up all the same are listed in ALLOWED as
# "from-folder/file.ext:to-folder/header.h" and explained in docs/architecture.md.
#
# cmake -DSOURCE_DIR=<src> -DLAYERS="platform;core;..." [-DALLOWED="a;b"] -P CheckLayerIncludes.cmake

if(NOT SOURCE_DIR OR NOT LAYERS)
    message(FATAL_ERROR "CheckLayerIncludes: SOURCE_DIR and LAYERS are required")
endif()

set(violations "")
foreach(folder IN LISTS LAYERS)
    list(FIND LAYERS ${folder} folder_rank)
    file(GLOB files ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
    foreach(file IN LISTS files)
        file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[a-z_]+/")
        get_filename_component(name ${file} NAME)
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([a-z_]+)/([^\"]+)\".*" "\\1" target_folder "${line}")
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([a-z_]+)/([^\"]+)\".*" "\\2" header "${line}")
            list(FIND LAYERS ${target_folder} target_rank)
            if(target_rank GREATER folder_rank)
                set(edge "${folder}/${name}:${target_folder}/${header}")
                list(FIND ALLOWED "${edge}" allowed_index)
                if(allowed_index EQUAL -1)
                    list(APPEND violations "${edge}")
                endif()
            endif()
        endforeach()
    endforeach()
endforeach()

if(violations)
    list(JOIN violations "\n  " text)
    message(FATAL_ERROR "Includes that go up the layer order:\n  ${text}")
endif()
message(STATUS "Every include follows the layer order")
