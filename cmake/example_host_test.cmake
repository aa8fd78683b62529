# The package as a host developer gets it: made from this build, unpacked in a folder outside the
# source tree, checked against its SHA256SUMS, its docs' links followed, and the example host
# configured, built and run from it alone, with the toolchain file it ships. For Windows the
# example then runs under Wine, and a host of the other width is refused by the package.
# cmake -DBUILD=<build dir> -DSOURCE=<source dir> -DNAME=<package name> [-DCXX_FLAGS=<flags>]
#       [-DTOOLCHAIN=<toolchain file name> -DRUN=<program that runs a Windows program>
#        -DOTHER_TOOLCHAIN=<the other width's> -DOTHER_NAME=<the other width's package>]
#       -P example_host_test.cmake
function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(scratch "$ENV{TMPDIR}")
if(NOT scratch)
  set(scratch /tmp)
endif()
string(SHA1 build_id "${BUILD}")
string(SUBSTRING "${build_id}" 0 12 build_id)
set(work ${scratch}/quorrin-package-test-${build_id})
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/unpacked)

step(${CMAKE_COMMAND} -DBUILD=${BUILD} -DNAME=${NAME} -DOUT=${work} -DSOURCE=${SOURCE} -P ${SOURCE}/cmake/package.cmake)
step(${CMAKE_COMMAND} -E chdir ${work}/unpacked ${CMAKE_COMMAND} -E tar xf ${work}/${NAME}.zip)
set(package ${work}/unpacked/${NAME})
step(${CMAKE_COMMAND} -E chdir ${package} sha256sum --quiet -c SHA256SUMS)

# Every relative link in the shipped docs leads to a file in the package.
file(GLOB_RECURSE docs ${package}/share/doc/*.md)
foreach(doc IN LISTS docs)
  file(READ ${doc} text)
  string(REGEX MATCHALL "\\]\\([^)# ]+" links "${text}")
  # (without the "](" first: a bracket in a CMake list hides the separators after it)
  string(REPLACE "](" "" links "${links}")
  get_filename_component(folder ${doc} DIRECTORY)
  foreach(target IN LISTS links)
    if(NOT target MATCHES "^[a-z]+:" AND NOT EXISTS ${folder}/${target})
      file(RELATIVE_PATH shown ${package} ${doc})
      message(SEND_ERROR "${shown}: the link to ${target} leads nowhere in the package")
    endif()
  endforeach()
endforeach()

set(configure ${CMAKE_COMMAND} -S ${package}/share/doc/quorrin/examples/minimal-host -G Ninja
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
if(TOOLCHAIN)
  step(${configure} -B ${work}/build -DCMAKE_TOOLCHAIN_FILE=${package}/share/quorrin/toolchains/${TOOLCHAIN})
else()
  step(${configure} -B ${work}/build -DCMAKE_PREFIX_PATH=${package})
endif()
step(${CMAKE_COMMAND} --build ${work}/build)

file(GLOB program ${work}/build/minimal-host ${work}/build/minimal-host.exe)
step(${RUN} ${program})
message("${out}")
if(NOT out MATCHES "report Quorrin")
  message(FATAL_ERROR "the example host printed no report")
endif()

if(OTHER_TOOLCHAIN)
  execute_process(COMMAND ${configure} -B ${work}/other-width
                          -DCMAKE_TOOLCHAIN_FILE=${package}/share/quorrin/toolchains/${OTHER_TOOLCHAIN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(status EQUAL 0 OR NOT out MATCHES "needs ${OTHER_NAME}")
    message(FATAL_ERROR "a host of the other width was not refused with the name of ${OTHER_NAME}:\n${out}")
  endif()
endif()

# The symbolising script turns a frame of Wine's backtrace (or a native one) inside the module into
# its function, file and line, with the debug file beside the module.
file(GLOB debug_file ${package}/bin/quorrin.dll.debug ${package}/lib/quorrin.so.debug)
set(binutils "")
if(TOOLCHAIN MATCHES "i686")
  set(binutils i686-w64-mingw32-)
elseif(TOOLCHAIN MATCHES "x86_64")
  set(binutils x86_64-w64-mingw32-)
endif()
step(${binutils}nm -C ${debug_file})
string(REGEX MATCH "([0-9a-f]+) [Tt] quorrin::CQuorrin::RegisterTask\\(" symbol "${out}")
if(NOT symbol)
  message(FATAL_ERROR "no quorrin::CQuorrin::RegisterTask in ${debug_file}")
endif()
set(offset 0x${CMAKE_MATCH_1})
if(binutils)
  step(${binutils}objdump -p ${debug_file})
  string(REGEX MATCH "\nImageBase[ \t]+([0-9a-f]+)" base "${out}")
  math(EXPR offset "${offset} - 0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
endif()
step(${package}/share/quorrin/quorrin-symbolize "=>1 0x0 in quorrin (+${offset}) (0x0)")
if(NOT out MATCHES "RegisterTask[^\n]* at src/stat/CQuorrin.cpp:[0-9]+")
  message(FATAL_ERROR "quorrin-symbolize did not name CQuorrin.cpp:\n${out}")
endif()
