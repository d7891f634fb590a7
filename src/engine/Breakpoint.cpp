#include "engine/Breakpoint.h"

#include <cmath>

#include "net/MeasureObj.h"

BreakpointRelation Breakpoint::stringToRelation(std::string text) {
  if (text == "=") return equalTo;
  if (text == "<") return lessThan;
  if (text == ">") return greaterThan;
  if (text == "<=") return lessOrEqual;
  if (text == ">=") return greaterOrEqual;
  return noRelation;
}

bool Breakpoint::isTriggered() {
  if (measure == nullptr || relation == noRelation) return false;
  const double v = measure->measure(-1.0);
  // Ordered comparisons only, so a NaN on either side holds no relation.
  switch (relation) {
    case equalTo: return std::fabs(v - value) <= 1e-8;
    case greaterThan: return v > value;
    case lessThan: return v < value;
    case greaterOrEqual: return v >= value;
    case lessOrEqual: return v <= value;
    default: return false;
  }
}
