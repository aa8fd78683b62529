// libFuzzer's entry point: each input is one fuzzed host session.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return quorrin_fuzz_one(data, size); }
