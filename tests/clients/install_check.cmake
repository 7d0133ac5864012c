# cmake -DBUILD=<build> -DPREFIX=<folder> -DEXAMPLE=<vyxfifo_scan.c> -P install_check.cmake
#
# Installs the reader library into PREFIX, builds the example against it through its
# pkg-config file alone and runs it: it must load the installed library and report that no
# lintelhost listens on port 1.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --component vyxfifo
                        --prefix ${PREFIX} RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
    message(FATAL_ERROR "cmake --install failed")
endif()
file(GLOB_RECURSE pc ${PREFIX}/*/vyxfifo.pc)
file(GLOB_RECURSE config ${PREFIX}/*/vyxfifoConfig.cmake)
if(NOT pc OR NOT config)
    message(FATAL_ERROR "no vyxfifo.pc or vyxfifoConfig.cmake under ${PREFIX}")
endif()
get_filename_component(pcdir ${pc} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})
execute_process(COMMAND pkg-config --cflags --libs vyxfifo OUTPUT_VARIABLE flags
                RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND pkg-config --variable=libdir vyxfifo OUTPUT_VARIABLE libdir
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed)
    message(FATAL_ERROR "pkg-config does not know vyxfifo")
endif()
separate_arguments(flags)
execute_process(COMMAND cc -std=c11 -Wall -Werror ${EXAMPLE} ${flags} -Wl,-rpath,${libdir}
                        -o ${PREFIX}/vyxfifo_scan RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "the example does not build against the installed library: ${flags}")
endif()
execute_process(COMMAND ${PREFIX}/vyxfifo_scan --port 1 RESULT_VARIABLE status
                ERROR_VARIABLE said)
if(NOT status EQUAL 1 OR NOT said MATCHES "vyxfifo_scan: lintelhost")
    message(FATAL_ERROR "the installed example ran with status ${status}: ${said}")
endif()
message(STATUS "installed, built against ${flags} and ran")
