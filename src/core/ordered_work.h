#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace dunmore::core {

// Items 0, 1, 2, ... of a piece of work done on worker threads and taken by one consumer
// in item order: the ranges of a table, read and formatted at once and written one after
// the other. At most `window` items are started and not yet taken, so the results that
// wait for their turn stay bounded however many items there are. The work function gets
// the item and the number of the worker (0 .. workers-1) that runs it; a worker runs one
// item at a time, so state kept per worker number needs no lock. An exception thrown by
// the work reaches the consumer when it takes that item.
template <typename Result>
class OrderedWork {
public:
    using Work = std::function<Result(std::size_t item, unsigned worker)>;

    OrderedWork(unsigned workers, std::size_t window, std::size_t items, Work work)
        : m_items(items), m_window(window == 0 ? 1 : window), m_slots(m_window),
          m_work(std::move(work)) {
        for (unsigned w = 0; w < workers; ++w) m_threads.emplace_back([this, w] { run(w); });
    }
    ~OrderedWork() { stop(); }
    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    // The result of the next item, once it is done; nullopt after the last item and
    // after stop.
    std::optional<Result> take() {
        std::unique_lock lock(m_mutex);
        if (m_stopped || m_nextToTake >= m_items) return std::nullopt;
        Slot& slot = m_slots[m_nextToTake % m_window];
        m_done.wait(lock, [&] { return slot.ready; });
        Slot taken = std::move(slot);
        slot = Slot{};
        ++m_nextToTake;
        lock.unlock();
        m_room.notify_all();
        if (taken.failure) std::rethrow_exception(taken.failure);
        return std::move(taken.result);
    }

    // Starts no further item and waits for the running ones, whose results are dropped.
    void stop() {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_room.notify_all();
        for (auto& t : m_threads)
            if (t.joinable()) t.join();
    }

private:
    struct Slot {
        bool ready = false;
        std::optional<Result> result;
        std::exception_ptr failure;
    };

    void run(unsigned worker) {
        for (;;) {
            std::size_t item = 0;
            {
                std::unique_lock lock(m_mutex);
                m_room.wait(lock, [&] {
                    return m_stopped || m_nextToStart >= m_items ||
                           m_nextToStart < m_nextToTake + m_window;
                });
                if (m_stopped || m_nextToStart >= m_items) return;
                item = m_nextToStart++;
            }
            Slot done;
            done.ready = true;
            try {
                done.result.emplace(m_work(item, worker));
            } catch (...) {
                done.failure = std::current_exception();
            }
            {
                std::lock_guard lock(m_mutex);
                m_slots[item % m_window] = std::move(done);
            }
            m_done.notify_all();
        }
    }

    const std::size_t m_items;
    const std::size_t m_window;
    std::vector<Slot> m_slots;
    Work m_work;
    std::mutex m_mutex;
    std::condition_variable m_room;
    std::condition_variable m_done;
    std::size_t m_nextToStart = 0;
    std::size_t m_nextToTake = 0;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

}  // namespace dunmore::core
