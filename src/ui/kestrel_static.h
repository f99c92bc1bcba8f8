#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QTableView;
class QToolButton;

namespace dunmore::ui {

class RecordsModel;

// The records pane: the records list (rows of a page or a table's column grid), the text
// view (the SQL of a view or trigger) in the same place, and the Previous Records and
// Next Records buttons under the list. It lays its children out itself; the preview
// decides what is visible and enabled.
class CKestrelStatic : public QWidget {
    Q_OBJECT
public:
    explicit CKestrelStatic(QWidget* parent = nullptr);

    QTableView* recordsList() const { return m_list; }
    RecordsModel* records() const { return m_model; }
    QPlainTextEdit* textView() const { return m_text; }
    QToolButton* previousButton() const { return m_previous; }
    QToolButton* nextButton() const { return m_next; }
    QLabel* label() const { return m_label; }

    // Shows the list (and the buttons) or the text view; exactly one of them is visible.
    void showList();
    void showText(const QString& text);
    // Gives every column of the list the width the pane uses (200 pixels).
    void applyColumnWidths();

signals:
    // The buttons' messages to the main frame.
    void previousRecords();
    void nextRecords();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* m_previous;
    QToolButton* m_next;
    QTableView* m_list;
    RecordsModel* m_model;
    QPlainTextEdit* m_text;
    QLabel* m_label;
};

}  // namespace dunmore::ui
