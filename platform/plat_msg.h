// The game thread's message queue: window events forwarded by the UI thread,
// movie and dialog events. One message is handled per game-thread pass.
#pragma once

#include <cstdint>

struct PlatMsg {
    uint32_t type;
    int64_t a;
    int64_t b;
    void* ptr;
};

void Plat_GameMsgPost(const PlatMsg& msg);
// Takes the oldest message; false when the queue is empty.
bool Plat_GameMsgPeek(PlatMsg* out);
// Waits until a message is queued or the timeout passes.
void Plat_GameMsgWait(uint64_t timeoutUs);
void Plat_GameMsgClear();
