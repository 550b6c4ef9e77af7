// The GPIB error boxes as the technician reads them: for every error code
// (and codes outside the table) the box's title and text, written out by hand.
#pragma once

#include <string>

namespace kc {

struct GpibErrorText {
  int iberr;
  const char* title;
  const char* text;
};

inline constexpr GpibErrorText kGpibErrorTexts[] = {
    {0, "GPIB ERROR # 0", "Operating system error."},
    {1, "GPIB ERROR # 1", "Function requires GPIB board to be CIC."},
    {2, "GPIB ERROR # 2", "No listener on write function."},
    {3, "GPIB ERROR # 3", "GPIB board not addressed correctly."},
    {4, "GPIB ERROR # 4", "Invalid argument to function call."},
    {5, "GPIB ERROR # 5", "GPIB board not system controller as required."},
    {6, "GPIB ERROR # 6", "I/O operation aborted - timeout."},
    {7, "GPIB ERROR # 7", "Non-existent GPIB board."},
    {8, "GPIB ERROR # 8", "Unknown error."},
    {9, "GPIB ERROR # 9", "Unknown error."},
    {10, "GPIB ERROR # 10", "Asynchronous I/O in progress."},
    {11, "GPIB ERROR # 11", "No capability for operation."},
    {12, "GPIB ERROR # 12", "File system error."},
    {13, "GPIB ERROR # 13", "Unknown error."},
    {14, "GPIB ERROR # 14", "GPIB bus eror."},
    {15, "GPIB ERROR # 15", "Serial poll status queue owerflow."},
    {16, "GPIB ERROR # 16", "SRQ stuck in on position."},
    {17, "GPIB ERROR # 17", "Unknown error."},
    {18, "GPIB ERROR # 18", "Unknown error."},
    {19, "GPIB ERROR # 19", "Unknown error."},
    {20, "GPIB ERROR # 20", "Table problem."},
    {21, "GPIB ERROR # 21", "Unknown error."},
    {300, "GPIB ERROR # 300", "Unknown error."},
    {-1, "GPIB ERROR #-1", "Unknown error."},
};

// What follows the text in every GPIB error box.
inline const std::string kGpibErrorAsk = "\nSelect OK to continue or Cancel to terminate program.";

// The entry for `iberr`.
inline const GpibErrorText& GpibErrorFor(int iberr) {
  for (const GpibErrorText& entry : kGpibErrorTexts)
    if (entry.iberr == iberr) return entry;
  return kGpibErrorTexts[0];
}

}  // namespace kc
