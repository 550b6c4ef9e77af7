// kalventa-checkout report: the certificate of checkout records as text, CSV
// or PDF.
//   report [RECORD.json ...] [-o FILE] [--format pdf|text|csv] [--paper a4|letter]
//          [--record-dir DIR]
// Without records, the newest run in the record folder. Text and CSV go to
// standard output unless -o names a file; a PDF goes to -o FILE, by default to
// the first record's name with .pdf in the current folder.
#pragma once

#include <ostream>

namespace kc {

// `argv[0]` is the word "report". Returns the exit status: 0 when a
// certificate was made, 1 when no record could be read or the output not be
// written, 2 for a bad command line.
int RunReportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace kc
