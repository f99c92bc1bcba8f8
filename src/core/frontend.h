#pragma once

#include "core/column_definition.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::core {

class CheckTree;

// The questions a job or a command asks. A front end answers by kind; the text is what
// a person is shown.
enum class Question {
    BrowseSystemTablespace,  // "Ibdata1File Cannot be opened.Do you want to browse ..."
    StopRunningProcess,      // "Are you sure to stop the running process?"
    CloseApplication,        // "Do you want to close the application?"
    ReplaceEarlierSave,      // a script folder of an earlier save would be overwritten
};

// One page of the records pane as the preview read it: the table's columns and its rows,
// and whether the reader stopped because the page was full. Immutable once handed over.
struct PreviewSnapshot {
    std::vector<ColumnDefinition> columns;
    std::vector<RowValues> rows;
    bool moreRows = false;
};

// How a job reaches the person. The command line writes the calls to a terminal, tests
// record them, the desktop window delivers them to its GUI thread.
//
// Threads. Every call may come from a job's worker thread or from the thread that runs
// the commands (the GUI thread of the window: admission refusals, Stop, the close
// request, the preview). Calls from one thread arrive in the order they were made; an
// implementation delivers them in that order.
//
// Blocking. showMessage, askYesNo and chooseFile return only when the person has
// answered; made on a worker, they block the worker until then, and the window must keep
// serving its event loop meanwhile (it never waits for the worker while one of these is
// outstanding). Made on the GUI thread they run modally in place. Every other call
// returns at once; the window may queue it.
//
// Data. The engine never hands out a structure a worker is still editing: the tree and
// the preview page travel as immutable snapshots (shared_ptr to const) that the window
// keeps as long as it draws them. Texts passed as string_view are valid only during the
// call; an implementation that queues them copies them.
//
// Jobs. A job clears the application's `busy` flag as its very last step, after its
// final message has been dismissed, so a second job is refused until the first worker
// has nothing left to do and joining it cannot wait on the person.
class Frontend {
public:
    virtual ~Frontend() = default;
    // A line in the output pane (no line break in the text).
    virtual void addOutputLine(std::string_view text) = 0;
    virtual void setCaption(std::string_view text) = 0;
    // Progress bar from 0 to upper; positions in the same unit (bytes of a .MYD, leaf
    // pages of an InnoDB table), 64-bit so that files over 4 GiB fit.
    virtual void setProgressRange(std::uint64_t upper) = 0;
    virtual void setProgressPosition(std::uint64_t pos) = 0;
    virtual void showProgress(bool visible) { (void)visible; }
    // A message box; blocks until dismissed.
    virtual void showMessage(std::string_view text) = 0;
    // A Yes/No question of the given kind; blocks until answered. True means Yes.
    virtual bool askYesNo(Question kind, std::string_view text) = 0;
    // The open-file dialog; blocks until closed. No value when the person cancelled.
    virtual std::optional<std::string> chooseFile() = 0;
    virtual void enableTree(bool enabled) = 0;
    // The scan has built a new database tree; the window draws this copy.
    virtual void showTree(std::shared_ptr<const CheckTree> tree) { (void)tree; }
    // The preview has read a page of rows; the records pane draws this copy.
    virtual void showPreview(std::shared_ptr<const PreviewSnapshot> page) { (void)page; }
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
    void setProgressRange(std::uint64_t) override {}
    void setProgressPosition(std::uint64_t) override {}
    void showMessage(std::string_view) override {}
    bool askYesNo(Question, std::string_view) override { return false; }
    std::optional<std::string> chooseFile() override { return std::nullopt; }
    void enableTree(bool) override {}
};

}  // namespace dunmore::core
