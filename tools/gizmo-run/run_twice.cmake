# Runs gizmo-run twice with the same arguments, each writing its frames into a folder of its
# own, and fails unless the printed lines and every image agree byte for byte.
#   cmake -DTOOL=... -DARGS="..." -DOUT=... -P run_twice.cmake
separate_arguments(args UNIX_COMMAND "${ARGS}")
foreach(run IN ITEMS a b)
    file(REMOVE_RECURSE "${OUT}/${run}")
    file(MAKE_DIRECTORY "${OUT}/${run}")
    execute_process(COMMAND "${TOOL}" ${args} --images "${OUT}/${run}"
                    OUTPUT_FILE "${OUT}/${run}.jsonl" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "gizmo-run exited with ${result} for run ${run}")
    endif()
endforeach()
file(GLOB frames RELATIVE "${OUT}/a" "${OUT}/a/*.tif")
list(LENGTH frames frameCount)
if(frameCount EQUAL 0)
    message(FATAL_ERROR "gizmo-run wrote no frames")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}/a.jsonl" "${OUT}/b.jsonl"
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
    message(FATAL_ERROR "two runs printed different lines")
endif()
foreach(name IN LISTS frames)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}/a/${name}"
                            "${OUT}/b/${name}" RESULT_VARIABLE differ)
    if(NOT differ EQUAL 0)
        message(FATAL_ERROR "two runs differ in ${name}")
    endif()
endforeach()
