#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::core {

class MainFrame;

// What one item of a save does while it runs on a helper thread ahead of its turn: its
// script texts, log texts, output lines, progress and counted rows, kept in order. When
// the item's turn comes the job's thread replays them into the frame, and from then on
// the item's thread writes to the frame itself, so the script, the log and the person see
// exactly what they would had the items run one after the other. An item whose journal
// holds `limit` bytes waits for its turn, so items ahead of their turn keep bounded
// memory whatever they write; a journal given up (the save ended before the item's turn)
// drops everything and keeps nobody waiting.
//
// The frame routes through the journal of the calling thread (Scope): MainFrame's
// writeLog, addOutputLine and progress calls and the ScriptWriter's writes and row
// counts. A thread an item starts to write for it takes the item's journal along.
class ItemJournal {
public:
    explicit ItemJournal(std::size_t limit) : m_limit(limit) {}
    ItemJournal(const ItemJournal&) = delete;
    ItemJournal& operator=(const ItemJournal&) = delete;

    // The journal the calling thread writes through; null: it writes to the frame.
    static ItemJournal* current();
    // Makes journal the calling thread's for the scope's lifetime.
    class Scope {
    public:
        explicit Scope(ItemJournal* journal);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ItemJournal* m_previous;
    };

    enum class Kind : std::uint8_t { Script, Log, OutputLine, ProgressRange, ProgressPosition, Rows };
    // Keeps an entry (a text, or a number for the progress and rows kinds). False when
    // the journal is live (its turn has come): the caller then writes to the frame itself.
    // Waits while the journal is full and its turn has not come.
    bool record(Kind kind, std::string_view text, std::uint64_t number = 0);

    // The item's turn (the job's thread): what was kept goes to frame in order, and the
    // item's own writes go there from now on.
    void replay(MainFrame& frame);
    // The item's turn never comes: what it kept and will keep is dropped.
    void giveUp();

private:
    struct Entry {
        Kind kind;
        std::uint64_t number;
        std::size_t end;  // of its text in m_texts
    };

    const std::size_t m_limit;
    std::mutex m_mutex;
    std::condition_variable m_turn;
    std::vector<Entry> m_entries;
    std::string m_texts;
    bool m_live = false;
    bool m_givenUp = false;
};

}  // namespace dunmore::core
