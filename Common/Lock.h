#pragma once

#include <mutex>

// Takes a recursive lock when there is one. The plain containers run without a lock; their
// thread-safe variants hand them their own, so that one implementation serves both.
class COptionalGuard {
public:
    explicit COptionalGuard(std::recursive_mutex* lock) : m_lock(lock) {
        if (m_lock)
            m_lock->lock();
    }
    ~COptionalGuard() {
        if (m_lock)
            m_lock->unlock();
    }
    COptionalGuard(const COptionalGuard&) = delete;
    COptionalGuard& operator=(const COptionalGuard&) = delete;

private:
    std::recursive_mutex* m_lock;
};
