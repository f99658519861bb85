// Worker threads: a slot in a table of 90 and a thread function called again
// and again until it returns 1 or its owner asks the thread to stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

using ThreadFunction = int32_t (*)(void* argument);  // returns 1 when done

enum : uint8_t {
    THREAD_STARTED = 0x01,
    THREAD_YIELD = 0x02,
    THREAD_STOP = 0x80,
};

enum : int32_t {
    THREAD_PRIORITY_NORMAL = 0,
    THREAD_PRIORITY_ABOVE_NORMAL = 1,
};

struct ThreadRecord {
    std::thread handle;
    std::atomic<uint32_t> threadId;  // kernel id, stored by the thread itself
    int32_t slot;
    ThreadFunction function;
    void* argument;  // owned; freed (heap 0) with the record
    std::atomic<uint8_t> control;
};

inline constexpr int kThreadSlots = 90;
extern ThreadRecord* ThreadTable[kThreadSlots];

void Lib_ThreadTableClear();
// Creates the thread (its function waits until Lib_ThreadStart). Slot or -1.
int32_t Lib_ThreadSet(const char* name, ThreadFunction function, int32_t priority);
// Lets a thread made by Lib_ThreadSet run its function.
void Lib_ThreadStart(int32_t slot);
void Lib_ThreadYield(int32_t slot);
// Stops the thread, waits for it and frees its record and argument.
void Lib_ThreadDel(int32_t slot);
