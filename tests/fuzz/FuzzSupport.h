// FuzzSupport.h: what the fuzz targets share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

// A property that holds for every input: a violation stops the run, and
// libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(c) \
    ((c) ? void() : (std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #c), __builtin_trap()))

// Input bytes widened one by one, as the module reads single-byte text, into a
// block of exactly their number (AddressSanitizer then sees any read past it).
inline std::vector<wchar_t> Widen(const std::uint8_t* data, std::size_t size) { return {data, data + size}; }
