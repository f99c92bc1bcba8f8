#include "schema/ctoken.h"

namespace dunmore::schema {

bool CToken::hasMoreTokens() const { return m_lastPending || delimiterOccurs(); }

std::string CToken::nextToken() {
    if (m_lastPending) {
        m_lastPending = false;
        return m_remaining;
    }
    const std::size_t p = m_delimiter.empty() ? std::string::npos : m_remaining.find(m_delimiter);
    std::string token;
    if (p != std::string::npos) {
        token = m_remaining.substr(0, p);
        // The token and one character of the delimiter go.
        m_remaining.erase(0, p + 1);
    }
    if (!delimiterOccurs()) m_lastPending = true;
    return token;
}

}  // namespace dunmore::schema
