#pragma once

#include "timecode/LtcDecoder.h"

#include <atomic>
#include <memory>

// The engine's current LTC reader. The render callback feeds it and the take
// start reads its snapshot, both through an atomic pointer; a new input
// source gets a fresh decoder published here, and the caller retires the
// previous one to the engine's dead-wood list, freed once no block can hold
// it (two render cycles).
//
// Any thread: get, ->, *. GUI thread: publish.
class LtcDecoderSlot {
public:
    LtcDecoderSlot() : owned_(std::make_unique<LtcDecoder>()), current_(owned_.get()) {}

    LtcDecoder* get() const { return current_.load(std::memory_order_acquire); }
    LtcDecoder* operator->() const { return get(); }
    LtcDecoder& operator*() const { return *get(); }

    // Sequentially consistent exchange, like the routing snapshot's: a block
    // that counts itself after it loads the replacement. Returns the previous
    // decoder for retirement.
    std::unique_ptr<LtcDecoder> publish(std::unique_ptr<LtcDecoder> replacement)
    {
        std::unique_ptr<LtcDecoder> previous = std::move(owned_);
        owned_ = std::move(replacement);
        current_.exchange(owned_.get());
        return previous;
    }

private:
    std::unique_ptr<LtcDecoder> owned_;
    std::atomic<LtcDecoder*> current_;
};
