# The release: `cmake --install` and `cpack -G ZIP` give the module stripped, its debug
# information in a file beside it, the pool, the SDK headers and CMake package, the docs, the
# example host and a SHA256SUMS file. On Win32 the binaries go to bin/, natively to lib/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  set(QUORRIN_MODULE_DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(QUORRIN_PACKAGE_SYSTEM win32)
else()
  set(QUORRIN_MODULE_DESTINATION ${CMAKE_INSTALL_LIBDIR})
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" QUORRIN_PACKAGE_SYSTEM)
  # The installed module finds the pool beside it.
  set_target_properties(quorrin PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

install(TARGETS quorrin zq
  RUNTIME DESTINATION ${QUORRIN_MODULE_DESTINATION}
  LIBRARY DESTINATION ${QUORRIN_MODULE_DESTINATION})

# Debug information out of the module and the pool into <file>.debug, linked back by
# .gnu_debuglink, which gdb follows. --strip-all rather than --strip-debug: on Win32 the symbol
# table alone is another 250 KB, and the debug file keeps it.
if(NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "the release needs objcopy for ${CMAKE_SYSTEM_NAME}")
endif()
foreach(shipped quorrin zq)
  install(CODE "
    set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QUORRIN_MODULE_DESTINATION}/$<TARGET_FILE_NAME:${shipped}>\")
    message(STATUS \"Splitting debug information: \${file}.debug\")
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --only-keep-debug \"\${file}\" \"\${file}.debug\"
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --strip-all \"--add-gnu-debuglink=\${file}.debug\" \"\${file}\"
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
configure_package_config_file(cmake/quorrinConfig.cmake.in ${CMAKE_BINARY_DIR}/quorrinConfig.cmake
  INSTALL_DESTINATION ${QUORRIN_CMAKE_DESTINATION}
  PATH_VARS QUORRIN_MODULE_PATH QUORRIN_POOL_PATH)
# The module is 32-bit on Win32: a host of another width cannot load it, so the package refuses it.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/quorrinConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/quorrinConfig.cmake ${CMAKE_BINARY_DIR}/quorrinConfigVersion.cmake
  DESTINATION ${QUORRIN_CMAKE_DESTINATION})

install(FILES README.md CHANGELOG.md docs/host-integration.md docs/module-boundary.md docs/report-format.md
              docs/robustness.md docs/performance.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
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

set(CPACK_PACKAGE_NAME quorrin)
set(CPACK_PACKAGE_VENDOR quorrin)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "quorrin download statistics plug-in, with its host SDK")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quorrin-${PROJECT_VERSION}-${QUORRIN_PACKAGE_SYSTEM})
set(CPACK_GENERATOR ZIP)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
include(CPack)

if(QUORRIN_TESTS)
  set(example_flags "")
  if(QUORRIN_SANITIZE AND NOT WIN32)
    set(example_flags "-fsanitize=address,undefined -fno-sanitize-recover=undefined")
  endif()
  add_test(NAME example_host COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DWORK=${CMAKE_BINARY_DIR}/example-host
    -DEXAMPLE=${CMAKE_INSTALL_DOCDIR}/examples/minimal-host -DCONFIG=${QUORRIN_CMAKE_DESTINATION}
    -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR} "-DCXX_FLAGS=${example_flags}"
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
