# The release: `cmake --build <build> --target release` gives <build>/quorrin-<version>-<system>.zip,
# byte for byte the same for the same sources wherever they are built (cmake/package.cmake);
# `cmake --install` gives the same files in a folder. In it: the module stripped, its debug
# information in a file beside it, the pool, the SDK headers and CMake package, the cross
# toolchain files, the symbolising script, the docs, the example host and a SHA256SUMS file. On
# Windows the binaries go to bin/, natively to lib/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  set(QUORRIN_MODULE_DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QUORRIN_PACKAGE_SYSTEM win64)
  else()
    set(QUORRIN_PACKAGE_SYSTEM win32)
  endif()
  # No time stamp in the PE header: the same sources give the same bytes.
  target_link_options(quorrin PRIVATE -Wl,--no-insert-timestamp)
  target_link_options(zq PRIVATE -Wl,--no-insert-timestamp)
else()
  set(QUORRIN_MODULE_DESTINATION ${CMAKE_INSTALL_LIBDIR})
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" QUORRIN_PACKAGE_SYSTEM)
  # The module finds the pool beside it, built and installed alike: the install then leaves the
  # file as built (rewriting a longer build path would leave padding that depends on the folder).
  set_target_properties(quorrin PROPERTIES INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
endif()
set(QUORRIN_PACKAGE_NAME quorrin-${PROJECT_VERSION}-${QUORRIN_PACKAGE_SYSTEM})

install(TARGETS quorrin zq
  RUNTIME DESTINATION ${QUORRIN_MODULE_DESTINATION}
  LIBRARY DESTINATION ${QUORRIN_MODULE_DESTINATION})

# Debug information out of the module and the pool into <file>.debug, linked back by
# .gnu_debuglink, which gdb follows. --strip-all rather than --strip-debug: on Win32 the symbol
# table alone is another 250 KB, and the debug file keeps it. objcopy stamps the time into the PE
# header it writes unless SOURCE_DATE_EPOCH says otherwise: 0 leaves none, as the linker did.
if(NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "the release needs objcopy for ${CMAKE_SYSTEM_NAME}")
endif()
foreach(shipped quorrin zq)
  install(CODE "
    set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QUORRIN_MODULE_DESTINATION}/$<TARGET_FILE_NAME:${shipped}>\")
    message(STATUS \"Splitting debug information: \${file}.debug\")
    execute_process(COMMAND \"${CMAKE_COMMAND}\" -E env SOURCE_DATE_EPOCH=0
                            \"${CMAKE_OBJCOPY}\" --only-keep-debug \"\${file}\" \"\${file}.debug\"
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND \"${CMAKE_COMMAND}\" -E env SOURCE_DATE_EPOCH=0
                            \"${CMAKE_OBJCOPY}\" --strip-all \"--add-gnu-debuglink=\${file}.debug\" \"\${file}\"
                    COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${file}.debug\")
  ")
endforeach()

# The SDK: the contract headers (the ids are defined in them), the version, the CMake package.
install(TARGETS quorrin_sdk EXPORT quorrinTargets)
install(DIRECTORY include/quorrin ${CMAKE_BINARY_DIR}/generated/include/quorrin
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
set(QUORRIN_CMAKE_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorrin)
install(EXPORT quorrinTargets NAMESPACE quorrin:: DESTINATION ${QUORRIN_CMAKE_DESTINATION})
set(QUORRIN_MODULE_PATH ${QUORRIN_MODULE_DESTINATION}/quorrin${CMAKE_SHARED_LIBRARY_SUFFIX})
if(WIN32)
  set(QUORRIN_POOL_PATH ${QUORRIN_MODULE_DESTINATION}/zq.dll)
else()
  set(QUORRIN_POOL_PATH ${QUORRIN_MODULE_DESTINATION}/libzq${CMAKE_SHARED_LIBRARY_SUFFIX})
endif()
set(QUORRIN_MODULE_DEBUG_PATH ${QUORRIN_MODULE_PATH}.debug)
set(QUORRIN_POOL_DEBUG_PATH ${QUORRIN_POOL_PATH}.debug)
configure_package_config_file(cmake/quorrinConfig.cmake.in ${CMAKE_BINARY_DIR}/quorrinConfig.cmake
  INSTALL_DESTINATION ${QUORRIN_CMAKE_DESTINATION}
  PATH_VARS QUORRIN_MODULE_PATH QUORRIN_POOL_PATH QUORRIN_MODULE_DEBUG_PATH QUORRIN_POOL_DEBUG_PATH)
# A host of another platform or width cannot load the module: the package refuses it and names
# the package it needs.
configure_file(cmake/quorrinConfigVersion.cmake.in ${CMAKE_BINARY_DIR}/quorrinConfigVersion.cmake @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/quorrinConfig.cmake ${CMAKE_BINARY_DIR}/quorrinConfigVersion.cmake
  DESTINATION ${QUORRIN_CMAKE_DESTINATION})

# What a host developer runs from the package alone: the cross toolchains (find_package finds the
# package they sit in) and the script that turns a crash offset into a source line.
install(FILES cmake/mingw-i686.cmake cmake/mingw-x86_64.cmake cmake/mingw-w64.cmake
  DESTINATION ${CMAKE_INSTALL_DATADIR}/quorrin/toolchains)
install(PROGRAMS scripts/quorrin-symbolize DESTINATION ${CMAKE_INSTALL_DATADIR}/quorrin)

# The docs keep the source tree's layout, so that their links hold in the package too.
install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/host-integration.md docs/module-boundary.md docs/report-format.md docs/robustness.md
              docs/performance.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(DIRECTORY examples/minimal-host DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# Last: a checksum of every file installed above, as `sha256sum -c SHA256SUMS` reads it from the
# top of the installation.
install(CODE "
  set(top \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(sums \"\")
  list(REMOVE_DUPLICATES CMAKE_INSTALL_MANIFEST_FILES)
  list(SORT CMAKE_INSTALL_MANIFEST_FILES)
  foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    if(NOT file MATCHES \"/SHA256SUMS\$\")
      file(SHA256 \"\${file}\" sum)
      file(RELATIVE_PATH name \"\${top}\" \"\${file}\")
      string(APPEND sums \"\${sum}  \${name}\\n\")
    endif()
  endforeach()
  file(WRITE \"\${top}/SHA256SUMS\" \"\${sums}\")
  message(STATUS \"Checksums: \${top}/SHA256SUMS\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${top}/SHA256SUMS\")
")

# The package: the shipped targets only, installed and packed reproducibly.
add_custom_target(release
  COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DNAME=${QUORRIN_PACKAGE_NAME} -DOUT=${CMAKE_BINARY_DIR}
          -DSOURCE=${PROJECT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/package.cmake
  USES_TERMINAL VERBATIM)
add_dependencies(release quorrin zq)

if(QUORRIN_TESTS)
  # The package as a host developer gets it: made, unpacked outside the source tree, the example
  # host configured, built and run from it alone (under Wine for Windows).
  set(example_flags "")
  if(QUORRIN_SANITIZE AND NOT WIN32)
    set(example_flags "-fsanitize=address,undefined -fno-sanitize-recover=undefined")
  endif()
  set(package_test_args -DBUILD=${CMAKE_BINARY_DIR} -DSOURCE=${PROJECT_SOURCE_DIR} -DNAME=${QUORRIN_PACKAGE_NAME}
      "-DCXX_FLAGS=${example_flags}")
  if(WIN32)
    if(QUORRIN_PACKAGE_SYSTEM STREQUAL win64)
      list(APPEND package_test_args -DTOOLCHAIN=mingw-x86_64.cmake -DOTHER_TOOLCHAIN=mingw-i686.cmake
           -DOTHER_NAME=quorrin-${PROJECT_VERSION}-win32)
    else()
      list(APPEND package_test_args -DTOOLCHAIN=mingw-i686.cmake -DOTHER_TOOLCHAIN=mingw-x86_64.cmake
           -DOTHER_NAME=quorrin-${PROJECT_VERSION}-win64)
    endif()
    list(APPEND package_test_args -DRUN=${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  add_test(NAME example_host COMMAND ${CMAKE_COMMAND} ${package_test_args}
    -P ${PROJECT_SOURCE_DIR}/cmake/example_host_test.cmake)
  # Under Wine run through an emulator, starting Wine alone can take minutes.
  if(WIN32)
    set_tests_properties(example_host PROPERTIES TIMEOUT 1200)
  else()
    set_tests_properties(example_host PROPERTIES TIMEOUT 300)
  endif()
  # The one version number reaches the programs too.
  add_test(NAME sim_version COMMAND quorrin-sim --version)
  set_tests_properties(sim_version PROPERTIES PASS_REGULAR_EXPRESSION "(^|\n)quorrin-sim ${PROJECT_VERSION}\r?\n")
endif()
