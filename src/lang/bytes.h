// What the printer languages share below the command level: the control
// bytes they name, and the one way they add lengths and positions that data
// from a printout could push past any bound.
#pragma once

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
