#include "core/item_journal.h"

#include "core/main_frame.h"

namespace dunmore::core {

namespace {

thread_local ItemJournal* t_journal = nullptr;

}  // namespace

ItemJournal* ItemJournal::current() { return t_journal; }

ItemJournal::Scope::Scope(ItemJournal* journal) : m_previous(t_journal) { t_journal = journal; }

ItemJournal::Scope::~Scope() { t_journal = m_previous; }

bool ItemJournal::record(Kind kind, std::string_view text, std::uint64_t number) {
    std::unique_lock lock(m_mutex);
    if (!m_live && !m_givenUp && m_texts.size() + text.size() > m_limit)
        m_turn.wait(lock, [&] { return m_live || m_givenUp; });
    if (m_givenUp) return true;
    if (m_live) return false;
    m_texts.append(text);
    m_entries.push_back({kind, number, m_texts.size()});
    return true;
}

void ItemJournal::replay(MainFrame& frame) {
    std::lock_guard lock(m_mutex);
    std::size_t start = 0;
    for (const Entry& e : m_entries) {
        const std::string_view text = std::string_view(m_texts).substr(start, e.end - start);
        start = e.end;
        switch (e.kind) {
            case Kind::Script: frame.scriptWriter.writeText(text); break;
            case Kind::Log: frame.writeLog(text); break;
            case Kind::OutputLine: frame.addOutputLine(text); break;
            case Kind::ProgressRange: frame.setProgressRange(e.number); break;
            case Kind::ProgressPosition: frame.setProgressPosition(e.number); break;
            case Kind::Rows: frame.scriptWriter.countRows(e.number); break;
        }
    }
    m_entries.clear();
    std::string().swap(m_texts);
    m_live = true;
    m_turn.notify_all();
}

void ItemJournal::giveUp() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    std::string().swap(m_texts);
    m_givenUp = true;
    m_turn.notify_all();
}

}  // namespace dunmore::core
