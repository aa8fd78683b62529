# The corpus replay of the normal test run: the fuzz harness built with the test compiler
# (natively, and for Win32 under Wine) and run over every file of fuzz/corpus.
include(${PROJECT_SOURCE_DIR}/fuzz/host_sources.cmake)
add_executable(fuzz_replay ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp ${QUORRIN_FUZZ_HOST_SOURCES})
target_include_directories(fuzz_replay PRIVATE ${PROJECT_SOURCE_DIR}/fuzz ${PROJECT_SOURCE_DIR}/tests/unit)
target_link_libraries(fuzz_replay PRIVATE quorrin_core quorrin_host tessaron)
add_test(NAME fuzz_corpus_replay COMMAND fuzz_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus)
