// The one machine-readable line a benchmark prints per measure, which scripts/bench.sh
// collects into its summary table:
//
//   BENCH-RESULT ratio=<measured/baseline> goal=<op><value> met=<yes|no> measure=<text>
//
// ratio is measured against a baseline taken in the same run; goal is "<=x" or ">=x",
// or "-" for a figure without a goal (met is "-" then); measure runs to the end of the
// line. A measure that could not be taken prints ratio=- and met=no.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

namespace bench {

enum class Goal { AtMost, AtLeast, None };

// Prints the line and returns whether the goal was met (true without a goal).
inline bool result(const std::string& measure, double ratio, Goal goal = Goal::None,
                   double target = 0) {
    const bool measured = std::isfinite(ratio) && ratio >= 0;
    char ratioText[32] = "-";
    if (measured)
        std::snprintf(ratioText, sizeof ratioText, "%.3f", ratio);
    char goalText[32] = "-";
    const char* met = "-";
    bool ok = measured;
    if (goal != Goal::None) {
        std::snprintf(goalText, sizeof goalText, "%s%g",
                      goal == Goal::AtMost ? "<=" : ">=", target);
        ok = measured && (goal == Goal::AtMost ? ratio <= target : ratio >= target);
        met = ok ? "yes" : "no";
    } else if (!measured) {
        met = "no";
    }
    std::printf("BENCH-RESULT ratio=%s goal=%s met=%s measure=%s\n", ratioText, goalText, met,
                measure.c_str());
    std::fflush(stdout);
    return ok;
}

inline bool atMost(const std::string& measure, double ratio, double target) {
    return result(measure, ratio, Goal::AtMost, target);
}
inline bool atLeast(const std::string& measure, double ratio, double target) {
    return result(measure, ratio, Goal::AtLeast, target);
}
// A figure the run could not take (its baseline or its subject was unavailable).
inline void unavailable(const std::string& measure, Goal goal = Goal::None, double target = 0) {
    result(measure, NAN, goal, target);
}

} // namespace bench
