#pragma once

#include "core/main_frame.h"

namespace dunmore::output {

// The reads behind the record preview, shared by the window and the command line.

// Reads the table's definition and its first page of up to 1,000 rows into previewRows
// of frame.previewTable, a new reader of the table's engine that keeps its files open
// for the later pages: MyISAM from its .MYD (the page stack then starts with {0, 0}), InnoDB from its first
// leaf in its .ibd or in ibdata1 (the stack starts with {leaf, 0}). A reader that stops
// at 1,000 rows pushes the start of the next page. Returns the definition's status, or
// Corrupt naming the table when its InnoDB records cannot be read with its layout
// (TableLookup::LayoutUnreadable); missing data files leave previewRows empty.
core::Status loadFirstPreviewPage(core::MainFrame& frame, const core::TableEntry& table);

// Reads the page that starts at position of frame.previewTable into its previewRows
// (which it empties first), with resumeAtOffset set: from the open .MYD for MyISAM, else from
// the table's .ibd when open, else from ibdata1. Returns the number of rows read.
std::size_t readPreviewPage(core::MainFrame& frame, const core::PagePosition& position);

}  // namespace dunmore::output
