#pragma once

#include "core/catalogue.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace dunmore::schema {

// The prefix of every recreated database: a script never touches the original.
inline constexpr std::string_view kReplacementPrefix = "rep_";

// A text value of a view or trigger definition file with its backslash escapes decoded:
// \\ \' \" \n \t \r \0 \b \z (Ctrl-Z); a backslash before any other character stands
// for that character, and a lone backslash at the end stays.
std::string unescapeDefinitionText(std::string_view text);

// How a text quotes, by the sql_mode it was written in: under ANSI_QUOTES "x" is an
// identifier, not a string; under NO_BACKSLASH_ESCAPES a backslash in a string is
// itself.
struct QuoteRules {
    bool ansiQuotes = false;
    bool noBackslashEscapes = false;
};

// The query with every reference to database `from` used as a qualifier (`from`.`t`,
// "from"."t" under ANSI_QUOTES, or from.t) renamed to `to` (quoted as it was, back-quoted
// where it was not). Quoted strings, and identifiers that follow a dot (a table or
// column that happens to have the database's name), are left alone.
std::string renameDatabaseQualifier(std::string_view query, std::string_view from,
                                    std::string_view to, QuoteRules rules = {});

// The CREATE VIEW statement of the view definition file at path, recreated in the
// replacement database: the file's "query=" line unescaped, its qualifiers naming the
// view's own database (the file's folder) renamed to "rep_" + that name, with the fixed
// clauses ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER. The
// empty text when the file cannot be read.
std::string viewStatement(const std::string& path);

// The CREATE VIEW statement of a view named name in database whose query (the server's
// print of its SELECT) is query, built as viewStatement builds it.
std::string viewStatementText(const std::string& name, const std::string& database,
                              std::string query);

// The CREATE VIEW statement of the view at index of the catalogue's viewFiles: from its
// definition file, or from its query when a MySQL 8 data dictionary keeps it
// (dictionaryViews). The empty text when it cannot be read.
std::string viewStatement(const core::Catalogue& catalogue, std::size_t index);
// Why that view cannot be saved (viewFileDamage of its file; a dictionary view read whole
// has none).
std::string viewDamage(const core::Catalogue& catalogue, std::size_t index);

// Why a view file cannot be saved: it cannot be read, lacks its query or its md5 line,
// or its query does not match the md5 the server stored (cut short or changed). Empty
// for an intact file; viewStatement gives "" for a damaged one.
std::string viewFileDamage(const std::string& path);

// Reads a view or trigger definition file (read-only) into text as UTF-8, bytes that are
// not UTF-8 taken as Windows-1252. False when it cannot be read or is too large to be one.
bool readDefinitionLines(const std::string& path, std::string& text);

// The rest of the first line of text that begins with key (a trailing CR dropped); the
// empty text when there is none.
std::string_view definitionValue(std::string_view text, std::string_view key);

}  // namespace dunmore::schema
