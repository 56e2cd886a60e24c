# Fails when a source under src/ includes a header of a folder above its own in the layer
# order. A lower layer reaches an upper one only through an interface it declares and the
# upper one implements; includes that must go up all the same are listed in ALLOWED as
# "from-folder/file.ext:to-folder/header.h" and explained in docs/architecture.md.
#
# A folder listed in DOORS as "folder:header.h|header.h" is entered from other folders only
# through those headers (the image library through its front end).
#
# cmake -DSOURCE_DIR=<src> -DLAYERS="platform;core;..." [-DALLOWED="a;b"]
#       [-DDOORS="imaging:image_file.h|imaging_init.h"] -P CheckLayerIncludes.cmake

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
            foreach(door IN LISTS DOORS)
                string(REGEX REPLACE ":.*" "" door_folder "${door}")
                string(REGEX REPLACE "^[^:]*:" "" door_headers "${door}")
                string(REPLACE "|" ";" door_headers "${door_headers}")
                if(target_folder STREQUAL door_folder AND NOT folder STREQUAL door_folder)
                    list(FIND door_headers "${header}" door_index)
                    if(door_index EQUAL -1)
                        list(APPEND violations "${folder}/${name}:${target_folder}/${header} (not a door)")
                    endif()
                endif()
            endforeach()
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
    message(FATAL_ERROR "Includes that go up the layer order or pass a folder's door:\n  ${text}")
endif()
message(STATUS "Every include follows the layer order")
