#pragma once

#include "core/catalogue.h"

#include <string>
#include <string_view>
#include <vector>

namespace dunmore::core {
class MainFrame;
}

namespace dunmore::schema {

// The trigger statements of a .TRG file's "triggers=" value, in file order, each from
// its word TRIGGER to the end of the stored statement, unescaped (line breaks are line
// feeds again) and without the CREATE DEFINER=... head. A statement that spells TRIGGER
// in another case is passed over.
std::vector<std::string> triggerBodies(std::string_view list);

// The triggers of the .TRG file at path, with the qualifiers that name the trigger's own
// database (the file's folder) renamed to "rep_" + that name, so that the recreated
// trigger lands on the recreated table. Saving as a script or previewing: each trigger
// as "DELIMITER $$\nCREATE " + body + "\n$$\nDELIMITER ;\n", in file order. Saving into
// a server (settings.savingToServer): each "CREATE " + body is executed on the frame's
// server connection with the output and log line "Trigger Created Successfully." or
// "Error executing Trigger.", and the result is empty. The empty text also when the file
// cannot be read or has no non-empty "triggers=" line. A trigger whose sql_mode (the
// file's sql_modes=) holds flags that change how its text reads (ANSI_QUOTES,
// PIPES_AS_CONCAT, NO_BACKSLASH_ESCAPES ...) is renamed by those rules ("db"."t" under
// ANSI_QUOTES) and created with them added to the session's mode, which is put back
// after it: "SET @rep_sql_mode = @@SESSION.sql_mode;\nSET SESSION sql_mode =
// CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), 'ANSI_QUOTES');\n" before its block and
// "SET SESSION sql_mode = @rep_sql_mode;\n" after it (the same statements on a server).
// Why a trigger file cannot be saved: it cannot be read, a trigger text is not closed, or the per-trigger lists (sql_modes, definers, character sets,
// created) do not have one entry per trigger (cut short). Empty for an intact file;
// triggerStatements gives "" for a damaged one.
std::string triggerFileDamage(const std::string& path);

std::string triggerStatements(core::MainFrame& frame, const std::string& path);

// The same for a catalogue's trigger entry: its .TRG file, or the triggers a MySQL 8 data
// dictionary keeps (each body "TRIGGER `name` BEFORE|AFTER INSERT|UPDATE|DELETE ON
// `table` FOR EACH ROW " + its statement, in the entry's order).
std::string triggerStatements(core::MainFrame& frame, const core::TriggerEntry& entry);
// The body of a dictionary trigger, as a .TRG file's statement reads from TRIGGER on.
std::string dictionaryTriggerBody(const core::DictionaryTrigger& trigger);
// Why an entry's triggers cannot be saved (triggerFileDamage of its file; dictionary
// triggers read whole have none).
std::string triggerDamage(const core::TriggerEntry& entry);

}  // namespace dunmore::schema
