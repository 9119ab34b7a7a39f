// Fixed-width byte fields: identity texts are compared over their width, never as C strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// True when the n bytes at a and b are equal.
inline bool SameBytes(const void* a, const void* b, size_t n) {
  return std::memcmp(a, b, n) == 0;
}

// True when the field at p holds the literal text (compared over the literal's length).
template <size_t N>
inline bool FieldIs(const void* p, const char (&text)[N]) {
  return std::memcmp(p, text, N - 1) == 0;
}

// Drive data seen as text, for "%.Ns" conversions that print at most N bytes of a field.
inline const char* AsText(const uint8_t* p) {
  return reinterpret_cast<const char*>(p);
}

// Big-endian stores into a CDB.
inline void PutBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutBe24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
