#pragma once

#include <string>
#include <string_view>

namespace dunmore::schema {

// A small tokenizer over one text. Each nextToken returns the text before the first
// occurrence of the delimiter and removes that text and exactly one character of the
// delimiter; with a multi-character delimiter its other characters stay at the front of
// what remains. Once the delimiter no longer occurs, the next token is all that remains.
class CToken {
public:
    explicit CToken(std::string text) : m_remaining(std::move(text)) {}

    void setDelimiter(std::string delimiter) { m_delimiter = std::move(delimiter); }

    // True while the delimiter occurs in the remaining text, or the last token is pending.
    bool hasMoreTokens() const;
    // The next token; the empty text when the delimiter is at the front or absent.
    std::string nextToken();

    const std::string& remaining() const { return m_remaining; }

private:
    bool delimiterOccurs() const {
        return !m_delimiter.empty() && m_remaining.find(m_delimiter) != std::string::npos;
    }

    std::string m_remaining;
    std::string m_delimiter = " ";
    bool m_lastPending = false;
};

}  // namespace dunmore::schema
