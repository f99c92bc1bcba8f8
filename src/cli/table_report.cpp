#include "cli/table_report.h"

namespace dunmore::cli {

void printTableReport(core::MainFrame&) {}

}  // namespace dunmore::cli
