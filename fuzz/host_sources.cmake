# The fuzz host's sources, for the fuzzer (fuzz/CMakeLists.txt) and for the corpus replay of the
# normal test run (fuzz/replay.cmake), which is built from another folder.
set(QUORRIN_FUZZ_HOST_SOURCES
  ${PROJECT_SOURCE_DIR}/fuzz/driver.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/call_arguments.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/host_setting.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/hostile_host.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/model.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/counting_new.cpp
  ${PROJECT_SOURCE_DIR}/tests/unit/manual_clock.cpp)
