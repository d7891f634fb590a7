#pragma once

#include <cstdint>
#include <string>

class MeasureObj;

// How a breakpoint compares its measure's current value with its threshold.
enum BreakpointRelation : std::int32_t {
  noRelation = 0,  // never holds
  equalTo = 1,     // within an absolute 1e-8
  greaterThan = 2,
  lessThan = 3,
  greaterOrEqual = 4,
  lessOrEqual = 5,
};

// A stop condition the token game's front end sets on a measure. A plain value: copies share the
// measure, which belongs to the net.
class Breakpoint {
 public:
  // Never triggers; stands in for a malformed entry so the positions of the others stay put.
  Breakpoint() = default;
  Breakpoint(MeasureObj* measure, BreakpointRelation relation, double value)
      : measure(measure), relation(relation), value(value) {}

  // "=", ">", "<", ">=", "<=" exactly; any other text gives noRelation.
  static BreakpointRelation stringToRelation(std::string text);
  // Evaluates the measure only when there is one and a relation to test it by.
  bool isTriggered();

 private:
  MeasureObj* measure = nullptr;
  BreakpointRelation relation = noRelation;
  double value = 0.0;
};
