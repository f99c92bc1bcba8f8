#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dunmore::core {

// How a job reaches the person. The Qt window delivers these calls to the GUI thread in
// order, the command line writes them to a terminal, tests record them.
class Frontend {
public:
    virtual ~Frontend() = default;
    virtual void addOutputLine(std::string_view text) = 0;
    virtual void setCaption(std::string_view text) = 0;
    virtual void setProgressRange(std::uint32_t upper) = 0;
    virtual void setProgressPosition(std::uint32_t pos) = 0;
    virtual void showProgress(bool visible) { (void)visible; }
    virtual void showMessage(std::string_view text) = 0;   // blocks until dismissed
    virtual bool askYesNo(std::string_view question) = 0;  // blocks until answered
    virtual std::optional<std::string> chooseFile() = 0;
    virtual void enableTree(bool enabled) = 0;
    // The records pane loses its rows, columns and text (scan start).
    virtual void resetRecordsPane() {}
    // The output pane is emptied (scan start).
    virtual void clearOutput() {}
};

// A Frontend that shows nothing and answers No; the base for partial front ends.
class SilentFrontend : public Frontend {
public:
    void addOutputLine(std::string_view) override {}
    void setCaption(std::string_view) override {}
    void setProgressRange(std::uint32_t) override {}
    void setProgressPosition(std::uint32_t) override {}
    void showMessage(std::string_view) override {}
    bool askYesNo(std::string_view) override { return false; }
    std::optional<std::string> chooseFile() override { return std::nullopt; }
    void enableTree(bool) override {}
};

}  // namespace dunmore::core
