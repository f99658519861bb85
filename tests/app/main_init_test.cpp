#include <gtest/gtest.h>

#include <vector>

#include "app/main_tasks.h"
#include "screens/boot.h"
#include "tests/engine/render/sprite_env.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/widget.h"

namespace {
using MainInitTest = SpriteEnv;

// The list from head to tail is the order of calls on a frame pass.
std::vector<TaskCallback> frameOrder() {
    std::vector<TaskCallback> order;
    for (TaskRecord* r = TaskTable.slots[kTaskHead]->next; r != TaskTable.slots[kTaskTail]; r = r->next)
        order.push_back(r->callback);
    return order;
}

TEST_F(MainInitTest, FirstFrameOrderBootScreenAndBlackOverlay) {
    if (IsSkipped()) return;
    // Leave old bytes where the work areas will be carved.
    void* dirty = Lib_MemAlloc(HEAP_GENERAL, 256 * 1024, 8);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xAB, 256 * 1024);
    Lib_MemFree(HEAP_GENERAL, dirty);
    Main_Init();

    std::vector<TaskCallback> expected = {Main_InputCB, Main_DrawBCB, Main_ModeCB};
    expected.insert(expected.end(), 23, GSL_SystemLoadPrevCB);
    for (TaskCallback cb : {GSL_SystemDispColorCB, Main_DrawCB, Main_DrawACB, Main_FlipCB})
        expected.push_back(cb);
    EXPECT_EQ(frameOrder(), expected);

    EXPECT_EQ(ModeStack[0], GSL_BootModeCB);
    EXPECT_EQ(ModeStack[1], nullptr);
    ASSERT_GE(DispColorTask, 0);
    auto* overlay = static_cast<DispColorWork*>(TaskTable.slots[DispColorTask]->work);
    EXPECT_EQ(overlay->slot, DispColorTask);
    EXPECT_EQ(overlay->current, 0xFF000000u);
    EXPECT_EQ(overlay->alpha, 255);
    for (int32_t t : overlay->componentTasks) EXPECT_EQ(t, -1);
    EXPECT_GE(overlay->sprite, 0);
    // The rest of the work area is cleared, not left as the heap had it.
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(overlay);
    for (uint32_t i = sizeof(DispColorWork); i < kWidgetWorkSize; ++i) ASSERT_EQ(bytes[i], 0) << i;

    Main_InitEnd();
    EXPECT_EQ(DispColorTask, -1);
}
}  // namespace
