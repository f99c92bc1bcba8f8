#pragma once

#include <string_view>

namespace dunmore::core {

// The destination of a save into a server: it executes one SQL statement at a time.
// The server connection of the output module implements it; the row streams, the
// trigger statements and the server save job talk to the server only through it.
class StatementExecutor {
public:
    virtual ~StatementExecutor() = default;
    // Executes one complete statement (no terminator beyond its own ";"). True when the
    // server accepted it; false when it reported an error for it or the connection is
    // gone. The statement is not retried.
    virtual bool executeStatement(std::string_view statement) = 0;
    // The connection broke: no later statement can succeed, so a stream of rows ends.
    virtual bool connectionLost() const { return false; }
};

}  // namespace dunmore::core
