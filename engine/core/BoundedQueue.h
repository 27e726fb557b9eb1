#pragma once
// A bounded queue between two engine threads, with a serial number.
//
// Every item carries the serial it was produced under. flush(serial) empties
// the queue and makes `serial` the current one; from then on items of any
// other serial are refused on push, so nothing read before a seek or jump
// reaches the consumer after it. abort() wakes and refuses everyone for good
// (stop).
//
// Capacity counts items, a cost (bytes) per item, and marks (items that
// stand for a span of time, such as the start of a unit); a push waits while
// any of them is exhausted. A single item larger than the whole cost budget is
// still accepted into an empty queue, so nothing can wait forever.
//
// Threads: any number of producers and consumers; one internal mutex, held
// only inside these calls.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace velmora::core {

template <class T>
class BoundedQueue
{
public:
    BoundedQueue(std::size_t maxItems, std::size_t maxCost, std::size_t maxMarks)
        : m_maxItems(maxItems), m_maxCost(maxCost), m_maxMarks(maxMarks)
    {
    }

    // Waits for room up to maxWait. Returns false when the item was refused
    // (stale serial, aborted, or no room in time); item is then left as it
    // was, so the caller may try again. Moved from only on success.
    bool push(T &item, int serial, std::size_t cost, bool mark, std::chrono::milliseconds maxWait)
    {
        std::unique_lock lock(m_mutex);
        const auto fits = [&] {
            return m_aborted || serial != m_serial
                   || (m_items.size() < m_maxItems && (m_items.empty() || m_cost + cost <= m_maxCost)
                       && (!mark || m_marks < m_maxMarks));
        };
        if (!m_notFull.wait_for(lock, maxWait, fits))
            return false;
        if (m_aborted || serial != m_serial)
            return false;
        m_items.push_back(Entry{std::move(item), cost, mark});
        m_cost += cost;
        m_marks += mark ? 1 : 0;
        m_notEmpty.notify_one();
        return true;
    }

    // Waits up to maxWait for an item. Empty when none came (or aborted).
    std::optional<T> pop(std::chrono::milliseconds maxWait)
    {
        std::unique_lock lock(m_mutex);
        if (!m_notEmpty.wait_for(lock, maxWait, [&] { return m_aborted || !m_items.empty(); }) || m_aborted)
            return std::nullopt;
        Entry entry = std::move(m_items.front());
        m_items.pop_front();
        m_cost -= entry.cost;
        m_marks -= entry.mark ? 1 : 0;
        m_notFull.notify_all();
        return std::move(entry.item);
    }

    void flush(int serial)
    {
        std::lock_guard lock(m_mutex);
        m_items.clear();
        m_cost = 0;
        m_marks = 0;
        m_serial = serial;
        m_notFull.notify_all();
        m_notEmpty.notify_all();
    }

    void abort()
    {
        std::lock_guard lock(m_mutex);
        m_aborted = true;
        m_items.clear();
        m_cost = 0;
        m_marks = 0;
        m_notFull.notify_all();
        m_notEmpty.notify_all();
    }

    bool empty() const
    {
        std::lock_guard lock(m_mutex);
        return m_items.empty();
    }
    std::size_t size() const
    {
        std::lock_guard lock(m_mutex);
        return m_items.size();
    }

private:
    struct Entry
    {
        T item;
        std::size_t cost;
        bool mark;
    };
    const std::size_t m_maxItems;
    const std::size_t m_maxCost;
    const std::size_t m_maxMarks;

    // m_mutex guards every field below.
    mutable std::mutex m_mutex;
    std::condition_variable m_notFull;
    std::condition_variable m_notEmpty;
    std::deque<Entry> m_items;
    std::size_t m_cost = 0;
    std::size_t m_marks = 0;
    int m_serial = 0;
    bool m_aborted = false;
};

} // namespace velmora::core
