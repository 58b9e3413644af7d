#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <type_traits>

// A small record that one writer publishes and a real-time reader copies
// without ever waiting: a sequence-locked set of atomic words.
//
// Threads: publish() from one thread at a time (callers serialise writers
// with their own mutex); tryRead() from the audio thread, no locks, no
// allocation. A read that overlaps a publish fails instead of returning a
// torn record, and the reader keeps the copy it already has; the next block
// reads the new record.
template <typename T>
class SeqlockValue {
    static_assert(std::is_trivially_copyable_v<T>, "records are copied word by word");
    static_assert(sizeof(T) % sizeof(uint32_t) == 0, "records are whole 32-bit words");
    static constexpr size_t kWords = sizeof(T) / sizeof(uint32_t);

public:
    SeqlockValue() : SeqlockValue(T{}) {}
    explicit SeqlockValue(const T& initial) { publish(initial); }

    SeqlockValue(const SeqlockValue&) = delete;
    SeqlockValue& operator=(const SeqlockValue&) = delete;

    void publish(const T& value)
    {
        const auto words = std::bit_cast<std::array<uint32_t, kWords>>(value);
        const uint32_t sequence = sequence_.load(std::memory_order_relaxed);
        sequence_.store(sequence + 1, std::memory_order_relaxed);
        // Release per word: a reader that sees any new word also sees the odd
        // sequence (no standalone fences: the thread sanitizer cannot see them).
        for (size_t i = 0; i < kWords; ++i)
            words_[i].store(words[i], std::memory_order_release);
        // Release: a reader that sees the even sequence sees every word.
        sequence_.store(sequence + 2, std::memory_order_release);
    }

    // True with `value` filled when a whole record was read.
    bool tryRead(T& value) const
    {
        const uint32_t before = sequence_.load(std::memory_order_acquire);
        if ((before & 1u) != 0)
            return false;
        std::array<uint32_t, kWords> words{};
        // Acquire per word: the sequence is read again after every word.
        for (size_t i = 0; i < kWords; ++i)
            words[i] = words_[i].load(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) != before)
            return false;
        value = std::bit_cast<T>(words);
        return true;
    }

private:
    std::atomic<uint32_t> sequence_{0};
    std::array<std::atomic<uint32_t>, kWords> words_{};
};
