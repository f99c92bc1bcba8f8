// View definition files are text files of key=value lines written by the server
// ("TYPE=VIEW" first). The value of "query=" is the server's own print of the SELECT,
// with every table qualified by its database (`db`.`t`.`c`), escaped the way the
// server escapes all values of these files: backslash, line feed, NUL, Ctrl-Z and the
// apostrophe become \\ \n \0 \z \'.
#include "schema/view_statement.h"

#include "core/read_only_file.h"
#include "core/scan.h"
#include "schema/column_type.h"
#include "schema/frm_text.h"

#include <filesystem>

namespace dunmore::schema {

namespace {

// View and trigger files are small; anything larger is not one.
constexpr std::uint64_t kMaxDefinitionFileSize = 64ull << 20;

bool isIdentifierByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || u >= 0x80;
}

}  // namespace

std::string_view definitionValue(std::string_view text, std::string_view key) {
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (line.substr(0, key.size()) == key) {
            line.remove_prefix(key.size());
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            return line;
        }
        pos = end + 1;
    }
    return {};
}

bool readDefinitionLines(const std::string& path, std::string& text) {
    core::ReadOnlyFile file;
    if (!file.open(path).isOk() || file.size() > kMaxDefinitionFileSize) return false;
    const auto bytes = file.readVector(0, static_cast<std::size_t>(file.size()));
    if (bytes.size() != file.size()) return false;
    text = utf8OrWindows1252(bytes);
    return true;
}

std::string unescapeDefinitionText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out.push_back(c);
            continue;
        }
        const char e = text[++i];
        switch (e) {
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            case '0': out.push_back('\0'); break;
            case 'b': out.push_back('\b'); break;
            case 'z':
            case 'Z': out.push_back('\x1A'); break;
            default: out.push_back(e); break;
        }
    }
    return out;
}

std::string renameDatabaseQualifier(std::string_view query, std::string_view from,
                                    std::string_view to) {
    std::string out;
    out.reserve(query.size() + 16);
    bool afterDot = false;
    std::size_t i = 0;
    const std::size_t n = query.size();
    while (i < n) {
        const char c = query[i];
        if (c == '\'' || c == '"') {
            std::size_t j = i + 1;
            while (j < n) {
                if (query[j] == '\\') {
                    j += 2;
                } else if (query[j] == c) {
                    if (j + 1 < n && query[j + 1] == c) {
                        j += 2;
                    } else {
                        ++j;
                        break;
                    }
                } else {
                    ++j;
                }
            }
            j = std::min(j, n);
            out.append(query.substr(i, j - i));
            i = j;
            afterDot = false;
        } else if (c == '`') {
            std::string ident;
            std::size_t j = i + 1;
            while (j < n) {
                if (query[j] == '`') {
                    if (j + 1 < n && query[j + 1] == '`') {
                        ident.push_back('`');
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ident.push_back(query[j++]);
            }
            if (!afterDot && ident == from && j < n && query[j] == '.')
                out += quoteIdentifier(to);
            else
                out.append(query.substr(i, j - i));
            i = j;
            afterDot = false;
        } else if (isIdentifierByte(c)) {
            // An unquoted word, as a trigger body may name a table: shop.orders.
            std::size_t j = i;
            while (j < n && isIdentifierByte(query[j])) ++j;
            const std::string_view word = query.substr(i, j - i);
            const bool wordStart = i == 0 || !isIdentifierByte(query[i - 1]);
            if (wordStart && !afterDot && word == from && j < n && query[j] == '.')
                out += quoteIdentifier(to);
            else
                out.append(word);
            i = j;
            afterDot = false;
        } else {
            out.push_back(c);
            afterDot = c == '.';
            ++i;
        }
    }
    return out;
}

std::string viewStatement(const std::string& path) {
    const std::string fileName = core::lastPathPart(path);
    const auto dot = fileName.rfind('.');
    const std::string name =
        fileName.size() == path.size() || dot == std::string::npos ? "" : fileName.substr(0, dot);
    std::string text;
    if (!readDefinitionLines(path, text)) return {};
    std::string query = unescapeDefinitionText(definitionValue(text, "query="));
    const std::string database = std::filesystem::path(path).parent_path().filename().string();
    if (!database.empty())
        query = renameDatabaseQualifier(query, database, std::string(kReplacementPrefix) + database);
    return "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW " +
           quoteIdentifier(name) + " AS " + query + ";";
}

}  // namespace dunmore::schema
