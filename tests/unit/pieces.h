// Feeds a streaming interpreter the way a reader of a file does: `piece`
// bytes at a time, reading on until the interpreter has what it wants, the
// operations taken after every call and once more after the finish.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "lang/ops.h"

template <typename State, typename Interpret, typename Take, typename Finish>
std::vector<DrawOp> feedInPieces(State& state, const std::string& bytes, std::size_t piece, Interpret interpret,
                                 Take take, Finish finish) {
  std::vector<DrawOp> all;
  std::string held;
  std::size_t read = 0;
  for (;;) {
    const std::size_t n = std::min(piece, bytes.size() - read);
    held.append(bytes, read, n);
    read += n;
    const bool end = read == bytes.size();
    if (!end && held.size() < state.wanted) continue;
    const std::size_t used = interpret(state, reinterpret_cast<const unsigned char*>(held.data()), held.size(), end);
    for (DrawOp& op : take(state)) all.push_back(std::move(op));
    held.erase(0, used);
    if (end && held.empty()) break;
  }
  finish(state);
  for (DrawOp& op : take(state)) all.push_back(std::move(op));
  return all;
}
