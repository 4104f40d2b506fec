#pragma once
// A small bounded queue between a decode thread and the presentation thread.
// push() blocks while the queue is full until there is room or the queue is
// woken (seek, stop); the consumer never blocks. A push notifier (set before
// the producer starts) lets an idle consumer sleep until there is something
// to take instead of polling.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace korvante {

template <typename T>
class BoundedQueue final {
public:
    explicit BoundedQueue(std::size_t capacity) : m_capacity(capacity) {}

    // Called on the producer's thread after each push, outside the lock.
    void setPushNotifier(std::function<void()> notify) { m_notify = std::move(notify); }

    // False when the wait was abandoned because `abandon()` became true.
    template <typename Abandon>
    bool push(T item, Abandon abandon)
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [&] { return m_items.size() < m_capacity || abandon(); });
        if (abandon())
            return false;
        m_items.push_back(std::move(item));
        lock.unlock();
        if (m_notify)
            m_notify();
        return true;
    }

    // The front item, if any, without removing it.
    template <typename Fn>
    auto peek(Fn fn) -> decltype(fn(static_cast<const T *>(nullptr)))
    {
        std::lock_guard lock(m_mutex);
        return fn(m_items.empty() ? nullptr : &m_items.front());
    }

    std::optional<T> pop()
    {
        std::optional<T> item;
        {
            std::lock_guard lock(m_mutex);
            if (m_items.empty())
                return item;
            item.emplace(std::move(m_items.front()));
            m_items.pop_front();
        }
        m_room.notify_all();
        return item;
    }

    void clear()
    {
        std::deque<T> old;
        {
            std::lock_guard lock(m_mutex);
            old.swap(m_items);
        }
        m_room.notify_all();
    }

    // Wakes a blocked push so that it can look at its abandon condition.
    void wake()
    {
        { std::lock_guard lock(m_mutex); }
        m_room.notify_all();
    }

    std::size_t size() const
    {
        std::lock_guard lock(m_mutex);
        return m_items.size();
    }

private:
    const std::size_t m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    std::deque<T> m_items;
    std::function<void()> m_notify;
};

} // namespace korvante
