# Compiles every SDK header on its own with one compiler, at each standard from C++11 to C++20,
# with -Wall -Wextra -pedantic -Werror, and checks that the headers define no macro but their own.
# For a Windows compiler the headers are also compiled after a lean <windows.h> (the host's
# WIN32_LEAN_AND_MEAN and NOMINMAX) and before a full one, which must come out whole
# (ShellExecuteA and timeGetTime declared: nothing made it lean). EXAMPLE, a host's source file,
# is compiled at each standard too, so that the headers' templates are instantiated.
# cmake -DCOMPILER=<c++ compiler> -DINCLUDES=<dir|dir> [-DEXAMPLE=<file>] -DWORK=<scratch dir>
#       -P check_headers.cmake
cmake_minimum_required(VERSION 3.20)

find_program(cxx ${COMPILER})
if(NOT cxx)
  message(FATAL_ERROR "${COMPILER} not found (scripts/install-deps.sh installs it)")
endif()
set(flags -Wall -Wextra -pedantic -Werror)
string(REPLACE "|" ";" INCLUDES "${INCLUDES}")
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags -I${dir})
  file(GLOB found RELATIVE ${dir} ${dir}/quorrin/*.h)
  list(APPEND headers ${found})
endforeach()
list(SORT headers)
set(windows OFF)
if(COMPILER MATCHES "mingw32")
  set(windows ON)
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(failures "")

function(compile label source std)
  file(WRITE ${WORK}/${label}.cpp "${source}")
  execute_process(COMMAND ${cxx} -std=c++${std} ${flags} -fsyntax-only ${WORK}/${label}.cpp
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    set(failures "${failures}\n-- ${label} (c++${std}):\n${out}" PARENT_SCOPE)
  endif()
endfunction()

# The names of the macros defined after preprocessing source.
function(macros_of source std result)
  file(WRITE ${WORK}/macros.cpp "${source}")
  execute_process(COMMAND ${cxx} -std=c++${std} ${flags} -dM -E ${WORK}/macros.cpp
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${cxx} -dM -E failed:\n${err}")
  endif()
  string(REGEX MATCHALL "#define [A-Za-z_][A-Za-z0-9_]*" names "${out}")
  list(TRANSFORM names REPLACE "#define " "")
  set(${result} ${names} PARENT_SCOPE)
endfunction()

# Everything the headers include from the system, so that only the headers' own macros differ.
set(system_headers "")
foreach(dir IN LISTS INCLUDES)
  foreach(header IN LISTS headers)
    if(EXISTS ${dir}/${header})
      file(STRINGS ${dir}/${header} includes REGEX "^#include <")
      list(FILTER includes EXCLUDE REGEX "<quorrin/")
      foreach(line IN LISTS includes)
        # Each where this compiler has it: the headers choose by platform.
        string(REGEX REPLACE "^#include (<[^>]+>).*" "\\1" name "${line}")
        string(APPEND system_headers "#if __has_include(${name})\n#include ${name}\n#endif\n")
      endforeach()
    endif()
  endforeach()
endforeach()
if(windows)
  set(vocabulary "")
else()
  # Natively the headers declare the Windows names the interfaces are written with.
  set(vocabulary STDMETHODCALLTYPE STDAPICALLTYPE STDAPI SUCCEEDED FAILED TRUE FALSE)
endif()

set(whole_windows "void host_code() {\n  decltype(&ShellExecuteA) shell = &ShellExecuteA;\n  decltype(&timeGetTime) clock = &timeGetTime;\n  (void)shell;\n  (void)clock;\n}\n")

set(count 0)
foreach(std 11 14 17 20)
  set(all "")
  foreach(header IN LISTS headers)
    string(MAKE_C_IDENTIFIER "${header}" name)
    compile(${name}_alone "#include <${header}>\n" ${std})
    string(APPEND all "#include <${header}>\n")
    math(EXPR count "${count} + 1")
  endforeach()
  if(EXAMPLE)
    file(READ ${EXAMPLE} example)
    compile(example "${example}" ${std})
    math(EXPR count "${count} + 1")
  endif()
  # Each header compiles alone, so in these two every header's own content meets <windows.h>.
  if(windows)
    compile(after_lean_windows "#define WIN32_LEAN_AND_MEAN\n#define NOMINMAX\n#include <windows.h>\n${all}" ${std})
    compile(before_windows "${all}#include <windows.h>\n${whole_windows}" ${std})
    math(EXPR count "${count} + 2")
  endif()
  macros_of("${system_headers}" ${std} baseline)
  macros_of("${system_headers}${all}" ${std} defined)
  list(REMOVE_ITEM defined ${baseline} ${vocabulary})
  list(FILTER defined EXCLUDE REGEX "^(QUORRIN_|_)")
  if(defined)
    string(APPEND failures "\n-- c++${std}: the headers define macros that are not their own: ${defined}")
  endif()
endforeach()

list(LENGTH headers header_count)
if(failures)
  message(FATAL_ERROR "SDK headers with ${COMPILER}:${failures}")
endif()
message("${COMPILER}: ${header_count} headers, c++11/14/17/20, ${count} compilations, no warning, no foreign macro")
