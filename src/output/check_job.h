#pragma once

#include "core/main_frame.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::output {

// What the check of one table, view or trigger file found.
struct ItemCheck {
    enum class Kind { Table, View, Trigger };
    Kind kind = Kind::Table;
    std::string name;                 // database and item as the tree names them
    std::uint64_t rows = 0;           // rows a save would write (tables)
    bool intact = true;               // every stored row or the definition reads
    std::string problem;              // what a save would lose, as its final message says
    std::vector<std::string> report;  // the damage report, one line each
};

struct CheckOutcome {
    std::vector<ItemCheck> items;
    bool stopped = false;  // a stop request ended the check early
    bool intact() const {
        for (const ItemCheck& item : items)
            if (!item.intact) return false;
        return !stopped;
    }
};

// The check job (on the job's worker thread): every checked table is read as a save as
// script reads it, its rows counted and written nowhere (settings.checkOnly; long values
// read whole, no blob files); every checked view and trigger file is read as its
// statements. The log gets what a save's log gets for each item, the damage report
// included. Honours a stop request between items (and the row streams between rows).
// Clears checkOnly, savingScript, stopRequested and, last, busy; outcome, when given,
// receives the outcome before busy is cleared.
// Requires: busy set.
CheckOutcome runCheckJob(core::MainFrame& frame, CheckOutcome* outcome = nullptr);

}  // namespace dunmore::output
