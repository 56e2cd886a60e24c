# Renders the same input twice into two files and fails unless their bytes agree.
#   cmake -DTOOL=... -DARGS="..." -DOUT_A=... -DOUT_B=... -P render_twice.cmake
separate_arguments(args UNIX_COMMAND "${ARGS}")
foreach(out IN ITEMS "${OUT_A}" "${OUT_B}")
    file(REMOVE "${out}")
    execute_process(COMMAND "${TOOL}" ${args} --out "${out}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "render exited with ${result} for ${out}")
    endif()
endforeach()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT_A}" "${OUT_B}"
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
    message(FATAL_ERROR "two renders of the same input differ: ${OUT_A} ${OUT_B}")
endif()
