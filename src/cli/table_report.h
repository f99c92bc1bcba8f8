#pragma once

#include "core/main_frame.h"

namespace dunmore::cli {

// Prints, per table of the catalogue, its engine and, for InnoDB, where its rows live.
void printTableReport(core::MainFrame& frame);

}  // namespace dunmore::cli
