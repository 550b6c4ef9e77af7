// The certificate for a terminal (aligned columns) and for spreadsheets (CSV,
// one row per reading).
#pragma once

#include <string>
#include <vector>

#include "report/certificate.h"

namespace kc {

std::string TextCertificate(const Certificate& certificate);
// A header row, then one row per reading of every run, in run and check order.
std::string CsvReport(const std::vector<Certificate>& certificates);

}  // namespace kc
