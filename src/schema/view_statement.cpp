// View definition files are text files of key=value lines written by the server
// ("TYPE=VIEW" first). The value of "query=" is the server's own print of the SELECT,
// with every table qualified by its database (`db`.`t`.`c`), escaped the way the
// server escapes all values of these files: backslash, line feed, NUL, Ctrl-Z and the
// apostrophe become \\ \n \0 \z \'.
#include "schema/view_statement.h"

#include "core/file_name.h"
#include "core/read_only_file.h"
#include "core/scan.h"
#include "schema/column_type.h"
#include "schema/frm_text.h"

#include <cmath>
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

// An identifier in double quotes, as ANSI_QUOTES reads it ("" for a quote inside).
std::string doubleQuoted(std::string_view name) {
    std::string out = "\"";
    for (const char c : name) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    return out + '"';
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
                                    std::string_view to, QuoteRules rules) {
    std::string out;
    out.reserve(query.size() + 16);
    bool afterDot = false;
    std::size_t i = 0;
    const std::size_t n = query.size();
    while (i < n) {
        const char c = query[i];
        if (c == '\'' || (c == '"' && !rules.ansiQuotes)) {
            std::size_t j = i + 1;
            while (j < n) {
                if (query[j] == '\\' && !rules.noBackslashEscapes) {
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
        } else if (c == '`' || c == '"') {
            // A quoted identifier: back-quoted, or in double quotes under ANSI_QUOTES.
            std::string ident;
            std::size_t j = i + 1;
            while (j < n) {
                if (query[j] == c) {
                    if (j + 1 < n && query[j + 1] == c) {
                        ident.push_back(c);
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ident.push_back(query[j++]);
            }
            if (!afterDot && ident == from && j < n && query[j] == '.')
                out += c == '`' ? quoteIdentifier(to) : doubleQuoted(to);
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

namespace {

// MD5 (RFC 1321) as lowercase hex: the server keeps the MD5 of a view's query in md5=.
std::string md5Hex(std::string_view text) {
    static constexpr std::uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    std::uint32_t k[64];
    for (int i = 0; i < 64; ++i)
        k[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::string msg(text);
    const std::uint64_t bits = std::uint64_t{text.size()} * 8;
    msg.push_back(static_cast<char>(0x80));
    while (msg.size() % 64 != 56) msg.push_back('\0');
    for (int i = 0; i < 8; ++i) msg.push_back(static_cast<char>(bits >> (8 * i)));
    for (std::size_t chunk = 0; chunk < msg.size(); chunk += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = 0;
            for (int b = 3; b >= 0; --b)
                w[i] = (w[i] << 8) | static_cast<std::uint8_t>(msg[chunk + 4 * i + b]);
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            if (i < 16) { f = (b & c) | (~b & d); g = i; }
            else if (i < 32) { f = (d & b) | (~d & c); g = (5 * i + 1) % 16; }
            else if (i < 48) { f = b ^ c ^ d; g = (3 * i + 5) % 16; }
            else { f = c ^ (b | ~d); g = (7 * i) % 16; }
            const std::uint32_t t = d;
            d = c;
            c = b;
            const std::uint32_t x = a + f + k[i] + w[g];
            b = b + ((x << kShift[i]) | (x >> (32 - kShift[i])));
            a = t;
        }
        h[0] += a; h[1] += b; h[2] += c; h[3] += d;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint32_t v : h)
        for (int i = 0; i < 4; ++i) {
            const auto byte = static_cast<std::uint8_t>(v >> (8 * i));
            out.push_back(kDigits[byte >> 4]);
            out.push_back(kDigits[byte & 15]);
        }
    return out;
}

}  // namespace

std::string viewFileDamage(const std::string& path) {
    std::string text;
    if (!readDefinitionLines(path, text)) return "it cannot be read";
    if (text.rfind("TYPE=VIEW", 0) != 0) return "it does not begin with TYPE=VIEW";
    if (text.find("\nquery=") == std::string::npos) return "it has no query";
    const std::string_view md5 = definitionValue(text, "md5=");
    // The server writes the MD5 of the query after it: a query cut short or changed no
    // longer matches it. Without one, the query line must at least be whole.
    const bool serverMd5 = md5.size() == 32 && md5.find_first_not_of("0123456789abcdef") == std::string_view::npos;
    if (serverMd5) {
        if (md5Hex(unescapeDefinitionText(definitionValue(text, "query="))) != md5)
            return "its query does not match the md5 the server stored (the file is damaged)";
    } else if (text.find('\n', text.find("\nquery=") + 1) == std::string::npos) {
        return "its query is cut short";
    }
    return {};
}

std::string viewStatement(const std::string& path) {
    const std::string fileName = core::lastPathPart(path);
    const auto dot = fileName.rfind('.');
    const std::string name = fileName.size() == path.size() || dot == std::string::npos
                                 ? ""
                                 : core::realName(fileName.substr(0, dot));
    std::string text;
    if (!readDefinitionLines(path, text) || !viewFileDamage(path).empty()) return {};
    std::string query = unescapeDefinitionText(definitionValue(text, "query="));
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const std::string database = folder.empty() ? "" : core::databaseName(folder);
    return viewStatementText(name, database, query);
}

std::string viewStatementText(const std::string& name, const std::string& database,
                              std::string query) {
    if (!database.empty())
        query = renameDatabaseQualifier(query, database, std::string(kReplacementPrefix) + database);
    return "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW " +
           quoteIdentifier(name) + " AS " + query + ";";
}

std::string viewStatement(const core::Catalogue& catalogue, std::size_t index) {
    if (const auto it = catalogue.dictionaryViews.find(index); it != catalogue.dictionaryViews.end())
        return viewStatementText(it->second.name, it->second.schema, it->second.query);
    return index < catalogue.viewFiles.size() ? viewStatement(catalogue.viewFiles[index]) : std::string();
}

std::string viewDamage(const core::Catalogue& catalogue, std::size_t index) {
    if (catalogue.dictionaryViews.count(index)) return {};
    return index < catalogue.viewFiles.size() ? viewFileDamage(catalogue.viewFiles[index])
                                              : "no such view";
}

}  // namespace dunmore::schema
