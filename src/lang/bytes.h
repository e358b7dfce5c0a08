// What the printer languages share below the command level: the control
// bytes they name, the one way they add lengths and positions that data
// from a printout could push past any bound, and the one way they pass over
// data they do not hold.
#pragma once

#include <cstddef>
#include <cstdint>

const unsigned char kTab = 0x09;
const unsigned char kLineFeed = 0x0A;
const unsigned char kFormFeed = 0x0C;
const unsigned char kCarriageReturn = 0x0D;
const unsigned char kDle = 0x10;
const unsigned char kEsc = 0x1B;
const unsigned char kFs = 0x1C;
const unsigned char kGs = 0x1D;

// a + b, or cap when the sum would reach past it; a is at most cap.
template <typename Number>
Number addCapped(Number a, Number b, Number cap) {
  return b >= cap - a ? cap : a + b;
}

// Data of a command that went on past the bytes an interpreter was given,
// still to be passed over unseen (`skip`), passed over as far as the `size`
// bytes at hand reach: every interpreter's call begins with it. Returns the
// bytes passed over.
inline std::size_t passSkipped(std::uint64_t& skip, std::size_t size) {
  const std::size_t passed = skip < size ? static_cast<std::size_t>(skip) : size;
  skip -= passed;
  return passed;
}
