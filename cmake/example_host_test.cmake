# Installs this build to a fresh prefix, then configures, builds and runs the installed example
# host against that prefix alone, as an outside project would.
# cmake -DBUILD=<build dir> -DWORK=<scratch dir> -DEXAMPLE=<example folder in the prefix>
#       -DCONFIG=<package folder in the prefix> [-DTOOLCHAIN=<file>] [-DEMULATOR=<program>]
#       [-DCXX_FLAGS=<flags>] -P example_host_test.cmake
function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
step(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
set(configure ${CMAKE_COMMAND} -S ${prefix}/${EXAMPLE} -B ${WORK}/build -G Ninja -DCMAKE_BUILD_TYPE=Release
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
if(TOOLCHAIN)
  # A cross toolchain confines find_package to its own root.
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -Dquorrin_DIR=${prefix}/${CONFIG})
else()
  list(APPEND configure -DCMAKE_PREFIX_PATH=${prefix})
endif()
step(${configure})
step(${CMAKE_COMMAND} --build ${WORK}/build)

file(GLOB program ${WORK}/build/minimal-host ${WORK}/build/minimal-host.exe)
step(${EMULATOR} ${program})
message("${out}")
if(NOT out MATCHES "report Quorrin")
  message(FATAL_ERROR "the example host printed no report")
endif()
