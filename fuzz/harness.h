// One fuzz input drives one host session against the initialised plug-in: the bytes choose the
// host's calls, its services and how they misbehave. A broken invariant aborts the process.
#pragma once

#include <cstddef>
#include <cstdint>

// Runs the session that data describes; returns 0 (libFuzzer's convention) or does not return.
int quorrin_fuzz_one(const std::uint8_t* data, std::size_t size);

// Blocks that the global operator new has handed out and not yet had back (counting_new.cpp).
long long fuzz_live_blocks();
// Whether the module's own code runs now (its allocations are the pool's); returns the old value.
bool fuzz_in_module(bool in_module);
// After `after` more allocations of the module's, the next `count` fail (0 disarms).
void fuzz_fail_allocations(long long after, long long count);
// Module allocations failed so far.
long long fuzz_failed_allocations();
