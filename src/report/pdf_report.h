// The certificate as a PDF: a header with the instrument, the technician and
// the bench; per check a table of item, reading, limits and verdict with a
// small gauge of where the reading lies between its limits; the overall
// verdict; and a trend chart per measured item across the instrument's earlier
// runs, with the limits drawn.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "report/certificate.h"

namespace kc {

enum class Paper { kA4, kLetter };

// Draws one certificate after another (each from a new page) into `file`,
// replaced atomically. False with the reason in `error` on failure.
bool WritePdfReport(const std::vector<Certificate>& certificates, Paper paper,
                    const std::filesystem::path& file, std::string& error);

}  // namespace kc
