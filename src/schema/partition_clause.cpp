// The partition text of a .frm (the extra segment, see docs/formats/frm.md) is the SQL
// the server generates for the table's partitioning:
//   PARTITION BY [LINEAR] {HASH (expr) | KEY [ALGORITHM = n] (columns)
//                          | RANGE (expr) | RANGE COLUMNS(columns) | LIST ... | SYSTEM_TIME ...}
//   [PARTITIONS n]
//   [SUBPARTITION BY [LINEAR] {HASH (expr) | KEY (columns)} [SUBPARTITIONS n]]
//   [(PARTITION name [VALUES ...] [options] [(SUBPARTITION name [options], ...)], ...)]
// MariaDB back-quotes every identifier; MySQL 5.x keeps the function as the user typed
// it and names partitions unquoted. Without a partition list the partitions are p0 ..
// p(n-1); a partition without a subpartition list has the subpartitions <name>sp0 ..
// <name>sp(m-1).
#include "schema/partition_clause.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <optional>

namespace dunmore::schema {

namespace {

using core::Status;

constexpr std::uint32_t kMaxPartitions = 8192;

enum class Kind { Word, Identifier, String, Number, Punct };

struct Token {
    Kind kind;
    std::string text;  // a word or number as written; an identifier without its quotes
    std::size_t begin;
    std::size_t end;
};

bool isWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool sameName(std::string_view a, std::string_view b) { return upper(a) == upper(b); }

// Valid UTF-8 throughout (the server writes the text in its system character set).
bool isUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

core::Result<std::vector<Token>> tokenize(std::string_view text, std::string& notRebuilt) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F)
            return Status::corrupt("a control character at offset " + std::to_string(i));
        const std::size_t begin = i;
        if ((c == '/' && i + 1 < text.size() && text[i + 1] == '*') || c == '#' ||
            (c == '-' && i + 1 < text.size() && text[i + 1] == '-')) {
            // Comments are not written by the server; a text carrying one is read for
            // its partitions but not rebuilt.
            notRebuilt = "the text holds a comment";
            if (c == '/') {
                const std::size_t close = text.find("*/", i + 2);
                if (close == std::string_view::npos) return Status::corrupt("a comment left open");
                i = close + 2;
            } else {
                const std::size_t eol = text.find('\n', i);
                i = eol == std::string_view::npos ? text.size() : eol + 1;
            }
            continue;
        }
        if (c == '`' || c == '\'' || c == '"') {
            std::string value;
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const char d = text[i];
                if (d == static_cast<char>(c)) {
                    if (i + 1 < text.size() && text[i + 1] == static_cast<char>(c)) {
                        value.push_back(d);
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                if (d == '\\' && c != '`' && i + 1 < text.size()) {
                    value.push_back(text[i + 1]);
                    i += 2;
                    continue;
                }
                value.push_back(d);
                ++i;
            }
            if (!closed)
                return Status::corrupt("a quote opened at offset " + std::to_string(begin) + " is not closed");
            tokens.push_back({c == '`' ? Kind::Identifier : Kind::String, std::move(value), begin, i});
            continue;
        }
        if (isWordByte(c)) {
            while (i < text.size()) {
                const auto d = static_cast<unsigned char>(text[i]);
                // The exponent sign of a number such as 1e-300.
                const bool sign = (d == '+' || d == '-') && std::isdigit(c) && i > begin &&
                                  (text[i - 1] == 'e' || text[i - 1] == 'E');
                if (!isWordByte(d) && d != '.' && !sign) break;
                if (d == '.' && !std::isdigit(c)) break;
                ++i;
            }
            tokens.push_back({std::isdigit(c) ? Kind::Number : Kind::Word,
                              std::string(text.substr(begin, i - begin)), begin, i});
            continue;
        }
        ++i;
        tokens.push_back({Kind::Punct, std::string(1, static_cast<char>(c)), begin, i});
    }
    return tokens;
}

// Key words of partitioning expressions that are not columns.
bool isExpressionKeyword(std::string_view word) {
    static constexpr std::array<std::string_view, 40> kWords = {
        "MOD", "DIV", "AND", "OR", "XOR", "NOT", "NULL", "IS", "TRUE", "FALSE",
        "AS", "SIGNED", "UNSIGNED", "INTEGER", "INT", "CHAR", "BINARY", "DATE", "DATETIME", "TIME",
        "DECIMAL", "INTERVAL", "YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND", "MICROSECOND", "WEEK",
        "QUARTER", "CASE", "WHEN", "THEN", "ELSE", "END", "BETWEEN", "IN", "LIKE", "CHARSET"};
    const std::string u = upper(word);
    return std::find(kWords.begin(), kWords.end(), u) != kWords.end();
}

class Parser {
public:
    Parser(std::string_view text, std::vector<Token> tokens) : m_text(text), m_tokens(std::move(tokens)) {}

    core::Result<PartitionClause> parse(PartitionClause clause) {
        m_clause = std::move(clause);
        if (!takeWord("PARTITION") || !takeWord("BY"))
            return Status::corrupt("it does not begin with PARTITION BY");
        if (Status s = method(false); !s) return s;
        std::optional<std::uint32_t> count;
        if (takeWord("PARTITIONS")) {
            auto n = number();
            if (!n) return n.status();
            count = *n;
        }
        std::uint32_t subCount = 1;
        if (takeWord("SUBPARTITION")) {
            if (!takeWord("BY")) return Status::corrupt("SUBPARTITION is not followed by BY");
            m_clause.subpartitioned = true;
            if (Status s = method(true); !s) return s;
            if (takeWord("SUBPARTITIONS")) {
                auto n = number();
                if (!n) return n.status();
                subCount = *n;
            }
        }
        if (atPunct("(")) {
            if (Status s = partitionList(subCount); !s) return s;
            if (count && *count != m_clause.partitions.size())
                return Status::corrupt("it counts " + std::to_string(*count) + " partitions and lists " +
                                       std::to_string(m_clause.partitions.size()));
        } else if (m_needsList) {
            return Status::corrupt("RANGE or LIST partitioning without its partition list");
        } else {
            for (std::uint32_t p = 0; p < count.value_or(1); ++p) {
                PartitionClause::Partition part{"p" + std::to_string(p), {}};
                if (Status s = defaultSubpartitions(part, subCount); !s) return s;
                if (!withinLimit(1)) return Status::corrupt("more than 8192 partitions");
                m_clause.partitions.push_back(std::move(part));
            }
        }
        if (m_at != m_tokens.size())
            return Status::corrupt("text follows the partition list at offset " +
                                   std::to_string(m_tokens[m_at].begin));
        if (Status s = checkNames(); !s) return s;
        m_clause.statementText = statementText();
        return std::move(m_clause);
    }

private:
    bool atWord(std::string_view word) const {
        return m_at < m_tokens.size() && m_tokens[m_at].kind == Kind::Word &&
               sameName(m_tokens[m_at].text, word);
    }
    bool takeWord(std::string_view word) {
        if (!atWord(word)) return false;
        ++m_at;
        return true;
    }
    bool atPunct(std::string_view p) const {
        return m_at < m_tokens.size() && m_tokens[m_at].kind == Kind::Punct && m_tokens[m_at].text == p;
    }
    std::size_t offset() const { return m_at < m_tokens.size() ? m_tokens[m_at].begin : m_text.size(); }

    core::Result<std::uint32_t> number() {
        std::uint32_t n = 0;
        if (m_at < m_tokens.size() && m_tokens[m_at].kind == Kind::Number) {
            const std::string& t = m_tokens[m_at].text;
            const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
            if (ec == std::errc() && end == t.data() + t.size() && n >= 1 && n <= kMaxPartitions) {
                ++m_at;
                return n;
            }
        }
        return Status::corrupt("no partition count at offset " + std::to_string(offset()));
    }

    // A parenthesised group from the "(" at m_at to its ")"; m_at is left after it.
    // Identifiers inside go to functionIdentifiers when collect is set.
    Status group(bool collect) {
        if (!atPunct("(")) return Status::corrupt("no \"(\" at offset " + std::to_string(offset()));
        int depth = 0;
        for (; m_at < m_tokens.size(); ++m_at) {
            const Token& t = m_tokens[m_at];
            if (t.kind == Kind::Punct && t.text == "(") ++depth;
            if (t.kind == Kind::Punct && t.text == ")" && --depth == 0) {
                ++m_at;
                return Status::ok();
            }
            if (!collect) continue;
            const bool call = m_at + 1 < m_tokens.size() && m_tokens[m_at + 1].kind == Kind::Punct &&
                              m_tokens[m_at + 1].text == "(";
            if (t.kind == Kind::Identifier)
                m_clause.functionIdentifiers.push_back({t.text, false});
            else if (t.kind == Kind::Word && !call && t.text[0] != '_')
                m_clause.functionIdentifiers.push_back({t.text, isExpressionKeyword(t.text)});
        }
        return Status::corrupt("a parenthesis is left open");
    }

    Status method(bool subpartition) {
        takeWord("LINEAR");
        if (takeWord("KEY")) {
            if (takeWord("ALGORITHM")) {
                if (!atPunct("=")) return Status::corrupt("KEY ALGORITHM is not followed by =");
                ++m_at;
                if (m_at >= m_tokens.size() || m_tokens[m_at].kind != Kind::Number)
                    return Status::corrupt("KEY ALGORITHM names no number");
                ++m_at;
            }
            return group(true);
        }
        if (takeWord("HASH")) return group(true);
        if (!subpartition && (takeWord("RANGE") || takeWord("LIST"))) {
            // Their partitions are always listed, each with its bounds.
            m_needsList = true;
            takeWord("COLUMNS");
            return group(true);
        }
        if (!subpartition && takeWord("SYSTEM_TIME")) {
            // History and current rows of a system-versioned table; the clause names
            // intervals and limits of its own.
            m_clause.notRebuilt = "partitioning by SYSTEM_TIME is not rebuilt";
            while (m_at < m_tokens.size() && !atWord("PARTITIONS") && !atWord("SUBPARTITION") &&
                   !atPunct("("))
                ++m_at;
            return Status::ok();
        }
        return Status::corrupt("no partitioning method at offset " + std::to_string(offset()));
    }

    core::Result<std::string> name() {
        if (m_at < m_tokens.size() &&
            (m_tokens[m_at].kind == Kind::Identifier || m_tokens[m_at].kind == Kind::Word ||
             m_tokens[m_at].kind == Kind::Number) &&
            !m_tokens[m_at].text.empty())
            return m_tokens[m_at++].text;
        return Status::corrupt("no partition name at offset " + std::to_string(offset()));
    }

    // The options of one partition or subpartition up to the "," or ")" that ends it;
    // DATA DIRECTORY and INDEX DIRECTORY options are marked for removal. A group that
    // begins with SUBPARTITION is the subpartition list (only where subs is given).
    Status options(std::vector<std::string>* subs) {
        while (m_at < m_tokens.size() && !atPunct(",") && !atPunct(")")) {
            if ((atWord("DATA") || atWord("INDEX")) && m_at + 1 < m_tokens.size() &&
                m_tokens[m_at + 1].kind == Kind::Word && sameName(m_tokens[m_at + 1].text, "DIRECTORY")) {
                const std::size_t from = m_at;
                m_at += 2;
                if (atPunct("=")) ++m_at;
                if (m_at >= m_tokens.size() || m_tokens[m_at].kind != Kind::String)
                    return Status::corrupt("DIRECTORY names no path");
                ++m_at;
                m_removed.emplace_back(from, m_at);
                continue;
            }
            if (atPunct("(")) {
                if (subs && m_at + 1 < m_tokens.size() && m_tokens[m_at + 1].kind == Kind::Word &&
                    sameName(m_tokens[m_at + 1].text, "SUBPARTITION")) {
                    if (Status s = subpartitionList(*subs); !s) return s;
                    continue;
                }
                if (Status s = group(false); !s) return s;
                continue;
            }
            ++m_at;
        }
        return Status::ok();
    }

    Status subpartitionList(std::vector<std::string>& subs) {
        ++m_at;  // "("
        while (true) {
            if (!takeWord("SUBPARTITION")) return Status::corrupt("no SUBPARTITION at offset " + std::to_string(offset()));
            auto n = name();
            if (!n) return n.status();
            subs.push_back(*n);
            if (Status s = options(nullptr); !s) return s;
            const auto more = nextInList("subpartition");
            if (!more) return more.status();
            if (!*more) return Status::ok();
        }
    }

    // After an item of a list: "," (true: another item follows) or ")" (false: the list
    // ends).
    core::Result<bool> nextInList(const std::string& list) {
        if (atPunct(",") || atPunct(")")) return m_tokens[m_at++].text == ",";
        return Status::corrupt("the " + list + " list is not closed");
    }

    // A table has at most 8,192 partitions, its subpartitions counted one by one.
    bool withinLimit(std::size_t more) const {
        std::size_t total = more;
        for (const auto& p : m_clause.partitions) total += std::max<std::size_t>(1, p.subpartitions.size());
        return total <= kMaxPartitions;
    }

    Status defaultSubpartitions(PartitionClause::Partition& part, std::uint32_t subCount) {
        if (!m_clause.subpartitioned) return Status::ok();
        if (!withinLimit(subCount)) return Status::corrupt("more than 8192 partitions");
        for (std::uint32_t s = 0; s < subCount; ++s) part.subpartitions.push_back(part.name + "sp" + std::to_string(s));
        return Status::ok();
    }

    Status partitionList(std::uint32_t subCount) {
        ++m_at;  // "("
        while (true) {
            if (!takeWord("PARTITION")) return Status::corrupt("no PARTITION at offset " + std::to_string(offset()));
            auto n = name();
            if (!n) return n.status();
            PartitionClause::Partition part{*n, {}};
            if (Status s = options(m_clause.subpartitioned ? &part.subpartitions : nullptr); !s) return s;
            if (part.subpartitions.empty())
                if (Status s = defaultSubpartitions(part, subCount); !s) return s;
            if (!withinLimit(std::max<std::size_t>(1, part.subpartitions.size())))
                return Status::corrupt("more than 8192 partitions");
            m_clause.partitions.push_back(std::move(part));
            const auto more = nextInList("partition");
            if (!more) return more.status();
            if (!*more) return Status::ok();
        }
    }

    Status checkNames() const {
        std::vector<std::string> seen;
        const std::size_t subs = m_clause.partitions.front().subpartitions.size();
        for (const auto& p : m_clause.partitions) {
            if (p.subpartitions.size() != subs)
                return Status::corrupt("partition " + p.name + " has " + std::to_string(p.subpartitions.size()) +
                                       " subpartitions, " + m_clause.partitions.front().name + " has " +
                                       std::to_string(subs));
            seen.push_back(upper(p.name));
            for (const auto& s : p.subpartitions) seen.push_back(upper(s));
        }
        if (seen.size() > kMaxPartitions) return Status::corrupt("more than 8192 partitions");
        std::sort(seen.begin(), seen.end());
        if (const auto twice = std::adjacent_find(seen.begin(), seen.end()); twice != seen.end())
            return Status::corrupt("two partitions are named " + *twice);
        return Status::ok();
    }

    // The tokens as written, one blank where the text had white space, without the
    // removed options.
    std::string statementText() const {
        std::string out;
        std::size_t lastEnd = 0;
        std::size_t r = 0;
        for (std::size_t t = 0; t < m_tokens.size(); ++t) {
            while (r < m_removed.size() && m_removed[r].second <= t) ++r;
            if (r < m_removed.size() && t >= m_removed[r].first) continue;
            const Token& token = m_tokens[t];
            if (!out.empty() && token.begin > lastEnd) out.push_back(' ');
            out += m_text.substr(token.begin, token.end - token.begin);
            lastEnd = token.end;
        }
        return out;
    }

    std::string_view m_text;
    std::vector<Token> m_tokens;
    std::size_t m_at = 0;
    bool m_needsList = false;
    PartitionClause m_clause;
    std::vector<std::pair<std::size_t, std::size_t>> m_removed;  // token ranges
};

}  // namespace

core::Result<PartitionClause> parsePartitionClause(std::string_view text) {
    const auto corrupt = [](const std::string& why) {
        return Status::corrupt("the partition text is not whole: " + why);
    };
    if (!isUtf8(text)) return corrupt("it is not UTF-8 text");
    PartitionClause clause;
    auto tokens = tokenize(text, clause.notRebuilt);
    if (!tokens) return corrupt(tokens.status().message());
    auto parsed = Parser(text, std::move(*tokens)).parse(std::move(clause));
    if (!parsed) return corrupt(parsed.status().message());
    return parsed;
}

}  // namespace dunmore::schema
