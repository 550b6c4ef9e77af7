// Result texts for the instrument screen: fixed-width numbers, verdicts and the
// timed progress bar.
#pragma once

#include <string>

#include "link/instrument_ops.h"
#include "platform/types.h"

namespace kc {

// Fixed-width number text; `value` becomes the rounded (or truncated) magnitude
// and `format` its absolute value.
std::string NrToStr(Single& value, Single& format);
// "PASS" for a margin of 0 or below, "\f\a\i\l" above.
std::string PassFail(Single margin);
// The "PLEASE WAIT" bar: `steps` one-second steps on screen line `line`,
// built in `cmd_text`.
void BarGraph(InstrumentOps& ops, Integer& dev, std::string& cmd_text, Integer steps,
              Integer indent, Integer line, const std::string& text);

}  // namespace kc
