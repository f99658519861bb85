// The fixed-step frame clock: on every pass of the game thread it decides
// whether a frame is due. Missed periods are skipped, never replayed.
#pragma once

#include <cstdint>

class FrameClock {
public:
    explicit FrameClock(uint32_t periodUs) : period_(periodUs ? periodUs : 1) {}

    // True when this pass is a frame pass. The first step is always a frame.
    bool step(uint64_t nowUs) {
        if (!started_) {
            started_ = true;
            ref_ = nowUs - period_;
        }
        if (nowUs < ref_ || nowUs - ref_ > kRephaseUs) {
            // The clock jumped backwards or the game stood still for a long
            // time: run one frame and take the new time as the phase.
            ref_ = nowUs;
            return true;
        }
        uint64_t elapsed = nowUs - ref_;
        if (elapsed < period_) return false;
        ref_ += (elapsed / period_) * period_;
        return true;
    }

    // Microseconds until the next frame is due (0 when it is due now).
    uint64_t dueInUs(uint64_t nowUs) const {
        if (!started_ || nowUs < ref_) return 0;
        uint64_t elapsed = nowUs - ref_;
        return elapsed >= period_ ? 0 : period_ - elapsed;
    }

    uint32_t periodUs() const { return period_; }

    // A new period from the next step on; the last frame keeps its time, so
    // the next frame is due one new period after it.
    void setPeriod(uint32_t periodUs) { period_ = periodUs ? periodUs : 1; }

private:
    static constexpr uint64_t kRephaseUs = 1000000;
    uint32_t period_;
    bool started_ = false;
    uint64_t ref_ = 0;
};
