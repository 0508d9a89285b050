// SHA-256 of a byte string, for `quenlor --version`: a person can compare the images a program
// carries with the maker's published checksums.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t SHA256_BYTES = 32;
constexpr std::size_t SHA256_HEX_CHARS = 2 * SHA256_BYTES + 1;

void sha256(const std::uint8_t* data, std::size_t size, std::uint8_t (&digest)[SHA256_BYTES]);
// Lower-case hex, terminated.
void sha256Hex(const std::uint8_t* data, std::size_t size, char (&hex)[SHA256_HEX_CHARS]);
