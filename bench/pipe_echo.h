// Shared by the benchmarks: an object directory of their own, and a message pipe round trip
// to an echoing child process.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

// Points the kit's named objects and registry stores at a directory of this benchmark process.
void UseOwnObjectDirectory(const char* tag);
// Each iteration sends `size` bytes through a pipe to a child that sends them back. With
// `traced`, both processes trace as the library does (into a trace pipe nobody drains).
void RunPipeRoundTrip(benchmark::State& state, uint32_t size, bool traced);
