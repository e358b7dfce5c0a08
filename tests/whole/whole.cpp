#include "whole/whole.h"

#include <algorithm>
#include <iterator>

std::vector<DrawOp> parseEscP(const std::string& bytes, const EscPSettings& settings) {
  EscPState state;
  beginEscP(state, settings);
  interpretEscP(state, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), true);
  finishEscP(state);
  return takeEscPOps(state);
}

std::vector<DrawOp> parsePcl(const std::string& bytes) {
  PclState state;
  beginPcl(state);
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t at = 0;
  std::vector<DrawOp> ops;
  do {
    at += interpretPcl(state, data + at, bytes.size() - at, true);
    std::vector<DrawOp> taken = takePclOps(state);
    ops.insert(ops.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
  } while (at < bytes.size());
  finishPcl(state);
  std::vector<DrawOp> rest = takePclOps(state);
  ops.insert(ops.end(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
  return ops;
}

Receipt parseReceipt(const unsigned char* data, std::size_t size, const ReceiptSettings& settings) {
  ReceiptState state;
  beginReceipt(state, settings);
  // All of the data is here: only a full batch stops the layout short.
  if (layOutReceipt(state, data, size, true) < size) state.out.limited = true;
  finishReceipt(state);
  return std::move(state.out);
}

Receipt parseReceipt(const std::string& bytes, const ReceiptSettings& settings) {
  return parseReceipt(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), settings);
}

Receipt parseStarReceipt(const std::string& bytes, const ReceiptSettings& settings,
                         std::vector<PrinterAction>* actions) {
  StarState state;
  beginStar(state, settings);
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const bool whole = layOutStar(state, data, bytes.size(), true) == bytes.size();
  finishStar(state);
  Receipt receipt;
  receipt.limited = state.receipt.out.limited || !whole;
  receipt.ops = takeReceiptOps(state.receipt);
  if (actions != nullptr) *actions = state.receipt.actions;
  return receipt;
}

bool drawDotAt(const DrawOp& image, int column, int row) {
  if (image.kind != kDrawImage || column < 0 || row < 0 || column >= image.width || row >= image.height)
    return false;
  const std::size_t index = static_cast<std::size_t>(row / std::max(1, image.rowRepeat)) *
                                static_cast<std::size_t>(image.bytesPerRow) +
                            static_cast<std::size_t>(column) / 8;
  return index < image.bits.size() && (image.bits[index] >> (7 - column % 8) & 1) != 0;
}
