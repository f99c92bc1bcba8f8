#pragma once

// Helpers of the MyISAM tests: a main frame over one table of a data folder, the rows of
// a walk as texts, and the mariadb --batch escapes undone.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/frontend.h"
#include "core/main_frame.h"
#include "myisam/myisam_header.h"
#include "myisam/myisam_record_reader.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"

namespace dunmore::test {

// NULL stays the text NULL in both, so that a row compares as one list of texts.
using TextRow = std::vector<std::string>;

struct TableSession {
    core::AppSettings settings;
    core::SilentFrontend frontend;
    std::unique_ptr<core::MainFrame> frame;
    std::unique_ptr<myisam::MyisamReader> reader = std::make_unique<myisam::MyisamReader>();
    myisam::MyisamReader& ctx() { return *reader; }

    TableSession() : frame(std::make_unique<core::MainFrame>(settings, frontend)) {}

    // Reads TABLE.frm and TABLE.MYI of folder into a new reader and opens TABLE.MYD;
    // false when the .frm or the .MYD does not open.
    bool open(const std::filesystem::path& folder, const std::string& table) {
        reader = std::make_unique<myisam::MyisamReader>();
        myisam::MyisamReader& c = ctx();
        if (!schema::readTableDefinition(c, folder / (table + ".frm"), settings)) return false;
        if (c.columns.empty()) return false;
        (void)myisam::readMyisamHeader(c, folder / (table + ".MYI"));
        return static_cast<bool>(c.dataFile.open(folder / (table + ".MYD")));
    }

    values::DecodeOptions options(bool saving = true) const {
        return {saving};
    }

    // Every live row from position 0, values as texts.
    std::vector<TextRow> rows(bool saving = true, myisam::WalkCounts* counts = nullptr) {
        std::vector<TextRow> out;
        myisam::WalkOptions o;
        o.decode = options(saving);
        o.onRow = [&](std::uint64_t) {
            for (const core::RowValues& row : ctx().previewRows) {
                TextRow t;
                for (const core::ColumnDefinition& col : row) {
                    // A set null flag and the text NULL go together.
                    EXPECT_EQ(col.isNull, col.value == "NULL") << col.name;
                    t.push_back(col.value);
                }
                out.push_back(std::move(t));
            }
            ctx().previewRows.clear();
            return true;
        };
        const myisam::WalkCounts c = myisam::walkMyisamRows(ctx(), 0, o);
        if (counts) *counts = c;
        return out;
    }
};

// mariadb --batch writes \t \n \\ \0 for tab, line feed, backslash and NUL.
inline std::string unescapeBatch(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out.push_back(field[i]);
            continue;
        }
        const char c = field[++i];
        switch (c) {
            case 't':
                out.push_back('\t');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case '0':
                out.push_back('\0');
                break;
            case '\\':
                out.push_back('\\');
                break;
            default:
                out.push_back('\\');
                out.push_back(c);
        }
    }
    return out;
}

// The rows of a --batch result (header line dropped), unescaped.
inline std::vector<TextRow> batchRows(const std::string& text) {
    std::vector<TextRow> rows;
    const auto parsed = parseBatch(text);
    for (std::size_t i = 1; i < parsed.size(); ++i) {
        TextRow r;
        for (const std::string& f : parsed[i]) r.push_back(unescapeBatch(f));
        rows.push_back(std::move(r));
    }
    return rows;
}

// The rows of one section of a query output made of `SELECT '@@name' AS section;`
// followed by the section's SELECT.
inline std::vector<TextRow> sectionRows(const std::string& text, const std::string& name) {
    std::vector<TextRow> rows;
    const auto parsed = parseBatch(text);
    std::size_t i = 0;
    while (i < parsed.size() && !(parsed[i].size() == 1 && parsed[i][0] == "@@" + name)) ++i;
    for (i += 2; i < parsed.size(); ++i) {
        if (parsed[i].size() == 1 && parsed[i][0] == "section") break;
        TextRow r;
        for (const std::string& f : parsed[i]) r.push_back(unescapeBatch(f));
        rows.push_back(std::move(r));
    }
    return rows;
}

}  // namespace dunmore::test
