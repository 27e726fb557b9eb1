#pragma once
// The commands the control thread hands to the navigation thread.
//
// A command is a function the navigation thread runs between two blocks (or
// while it waits in a still, a drain or for room in a queue): the only
// thread that calls libdvdnav during playback. Commands run in the order
// they were posted. A command posted with a coalescing key replaces a
// pending one of the same key (pointer moves: only the latest position
// counts), so a burst of them costs one run.
//
// Threads: not locked. Its owner guards it with the lock that also guards
// the flush serial, so a command and the flush it comes with are seen
// together (see PlaybackPipeline::post()).

#include <cstddef>
#include <deque>
#include <functional>
#include <utility>

namespace velmora::core {

class CommandQueue
{
public:
    using Command = std::function<void()>;
    // Far more than a user can post between two blocks; a full queue means
    // the navigation thread is stuck (a drive that does not answer).
    static constexpr std::size_t Capacity = 256;

    // False when the queue is full; the command is not taken.
    bool post(Command command, int coalesceKey = 0)
    {
        if (coalesceKey != 0) {
            for (Entry &entry : m_entries) {
                if (entry.key == coalesceKey) {
                    entry.command = std::move(command);
                    return true;
                }
            }
        }
        if (m_entries.size() >= Capacity)
            return false;
        m_entries.push_back(Entry{std::move(command), coalesceKey});
        return true;
    }

    bool empty() const { return m_entries.empty(); }
    std::size_t size() const { return m_entries.size(); }

    // Everything pending, oldest first; the queue is left empty.
    std::deque<Command> takeAll()
    {
        std::deque<Command> commands;
        for (Entry &entry : m_entries)
            commands.push_back(std::move(entry.command));
        m_entries.clear();
        return commands;
    }

private:
    struct Entry
    {
        Command command;
        int key = 0;
    };
    std::deque<Entry> m_entries;
};

} // namespace velmora::core
