#pragma once

#include "core/check_tree.h"
#include "core/main_frame.h"
#include "core/table_reader.h"

#include <QString>

#include <cstdint>

namespace dunmore::ui {

class CKestrelStatic;

// What the preview needs of the window besides the records pane.
class PreviewHost {
public:
    virtual ~PreviewHost() = default;
    virtual void setCaption(const QString& text) = 0;
    virtual void showMessage(const QString& text) = 0;
    virtual void showProgress(bool visible) = 0;
    virtual void setTreeEnabled(bool enabled) = 0;
    // Selects and highlights node in the tree again (a click that was refused).
    virtual void reselect(core::CheckTree::NodeId node) = 0;
};

// The record preview and its paging, on the window's thread: a click on a tree node
// shows a table's first 1,000 rows, a "Keys" node's column grid or the SQL text of a view
// or trigger; Next and Previous move through the table 1,000 rows at a time along the
// context's page stack. Each handler holds busy while it works and refuses to run while
// a job holds it.
class RecordPreview {
public:
    RecordPreview(core::MainFrame& frame, CKestrelStatic& pane, PreviewHost& host)
        : m_frame(frame), m_pane(pane), m_host(host) {}

    void onTreeItemClicked(core::CheckTree::NodeId item);
    void onNextRecords();
    void onPreviousRecords();

    core::CheckTree::NodeId currentItem() const { return m_currentItem; }
    std::int64_t firstRow() const { return m_firstRow; }
    std::int64_t lastRow() const { return m_lastRow; }

private:
    bool admit();
    void finishPaging();
    void showColumnGrid(core::CheckTree::NodeId item);
    void loadFirstPage(const core::TableEntry& table);
    // Reads the page that starts at position into previewRows and the records list.
    std::size_t readPage(const core::PagePosition& position);
    void showPreviewRows();

    core::MainFrame& m_frame;
    CKestrelStatic& m_pane;
    PreviewHost& m_host;
    core::CheckTree::NodeId m_currentItem = core::CheckTree::kNone;
    std::int64_t m_firstRow = 0;
    std::int64_t m_lastRow = 0;
    std::size_t m_savedStackSize = 0;
    core::PagePosition m_savedPageStart{};
};

}  // namespace dunmore::ui
