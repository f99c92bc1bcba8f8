#pragma once

#include <string>
#include <utility>
#include <variant>

namespace dunmore::core {

enum class StatusCode { Ok, Corrupt, Unsupported, IoError, InvalidArgument, Cancelled };

// The outcome of a low-level operation. A failure carries a message that says what was
// expected, what was found and where (file, page, offset), so that it can reach the log.
class [[nodiscard]] Status {
public:
    Status() = default;

    static Status ok() { return {}; }
    static Status corrupt(std::string message) { return {StatusCode::Corrupt, std::move(message)}; }
    static Status unsupported(std::string message) {
        return {StatusCode::Unsupported, std::move(message)};
    }
    static Status ioError(std::string message) { return {StatusCode::IoError, std::move(message)}; }
    static Status invalidArgument(std::string message) {
        return {StatusCode::InvalidArgument, std::move(message)};
    }
    static Status cancelled(std::string message) {
        return {StatusCode::Cancelled, std::move(message)};
    }

    bool isOk() const { return m_code == StatusCode::Ok; }
    explicit operator bool() const { return isOk(); }
    StatusCode code() const { return m_code; }
    const std::string& message() const { return m_message; }

private:
    Status(StatusCode code, std::string message) : m_code(code), m_message(std::move(message)) {}

    StatusCode m_code = StatusCode::Ok;
    std::string m_message;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_data(std::move(value)) {}
    Result(Status status) : m_data(std::move(status)) {}

    bool isOk() const { return std::holds_alternative<T>(m_data); }
    explicit operator bool() const { return isOk(); }

    // Requires: isOk().
    T& value() { return std::get<T>(m_data); }
    const T& value() const { return std::get<T>(m_data); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // The failure; an ok Status when there is a value.
    Status status() const { return isOk() ? Status::ok() : std::get<Status>(m_data); }

private:
    std::variant<T, Status> m_data;
};

}  // namespace dunmore::core
