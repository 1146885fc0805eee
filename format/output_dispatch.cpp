#include <array>

#include "format/output_writers.h"

namespace zov {
namespace {

MethodWriters referenceFor(int method) {
  switch (method) {
    case 0:
    case 1:
    case 2:
    case 9:
      return plainWriters(method);
    case 3:
    case 4:
    case 5:
    case 6:
      return enlargeWriters16(method);
    case 7:
    case 8:
    case 10:
    case 11:
    case 12:
      return enlargeWriters8(method);
    case 13:
      return diagnosticWriters();
    default:
      return yuvWriters(method);
  }
}

std::array<MethodWriters, kOutputMethods> buildReference() {
  std::array<MethodWriters, kOutputMethods> t{};
  for (int m = 0; m < kOutputMethods; ++m) t[m] = referenceFor(m);
  return t;
}

std::array<MethodWriters, kOutputMethods> buildInUse() {
  std::array<MethodWriters, kOutputMethods> t = buildReference();
  for (int m = 0; m < kOutputMethods; ++m) {
    MethodWriters fast = fastWriters(m);
    if (fast.writeFullFrame) t[m].writeFullFrame = fast.writeFullFrame;
    if (fast.writeChangedBlocks) t[m].writeChangedBlocks = fast.writeChangedBlocks;
  }
  return t;
}

}  // namespace

const MethodWriters& referenceWriters(int method) {
  static const auto table = buildReference();
  return table[isValidMethod(method) ? method : 0];
}

const MethodWriters& methodWriters(int method) {
  static const auto table = buildInUse();
  return table[isValidMethod(method) ? method : 0];
}

}  // namespace zov
