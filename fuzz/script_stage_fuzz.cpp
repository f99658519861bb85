// Random scenario scripts on the story stage: the input is the opening
// scenario "00_init.txt" of a script container, run by the real interpreter
// task with the real command table on the story screen's stage, over the
// sample game's archives (pictures, sounds, message tables), on a headless
// GL context with a silent mixer and a frame clock of its own. The confirm
// key is pressed every other frame, so that waits for the reader end. The
// script may fail any request; it must not crash, overrun or hang, and once
// the story is taken down every task, sprite and text it made is gone.
//
// The sample's archives are looked for in $VN_SAMPLE_DATA, else in
// seeds/game/data below the folder the run starts in (tools/fuzz.sh).
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_object.h"
#include "fuzz/fuzz_scratch.h"
#include "fuzz/script_container.h"
#include "platform/plat_audio.h"
#include "platform/plat_gl.h"
#include "platform/plat_input.h"
#include "script/game_blocks.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "story/game_state.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"
#include "ui/widget_delete.h"
#include "ui/wipe.h"

namespace fs = std::filesystem;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}
void Quiet(const char*) {}

uint64_t g_now = 1000000;
uint64_t Now() { return g_now; }
TextOps g_textOps;

// A script runs for at most 40 frames of 75 ms each: three seconds of its
// clock, enough for its waits and fades to end, and 20 presses of the key,
// while one input costs milliseconds, not seconds. Longer scripts are cut
// short, never wrong.
constexpr int kFrames = 40;
constexpr uint64_t kFrameUs = 75000;
// The largest script taken (fuzz/seeds.py gives the same -max_len).
constexpr size_t kMaxScript = 4096;

// A script that loops without ever waiting runs the interpreter's whole
// per-frame share of tags every frame: it yields, it does not hang, but one
// such frame takes seconds under the sanitizers. One shows all it does.
constexpr int kBusyFrames = 1;
// The frame ended the interpreter's run on its share of tags: neither waiting
// in a command nor ended.
bool RanOutOfTags(int32_t task) {
    const ScriptTaskWork* w = GSL_ScriptTaskWork(task);
    return w && w->state == SCRIPT_TASK_RUN && !(w->script.status & SCRIPT_BUSY) &&
           w->script.status != SCRIPT_ENDED;
}

// One frame; the story's texts are laid out after it, as the drawing pass
// does, so that their reveal runs.
void Frame() {
    Lib_FileLoadCB(nullptr);
    Lib_SoundWorkPass();
    Lib_TaskPass(true);
    Lib_TaskPass(false);
    g_now += kFrameUs;
    const ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
    for (uint32_t t = 0; w && t <= 5; ++t)
        if (const int32_t h = w->texts[t].handle; h >= 0 && h < kTextSlots && TextTable[h])
            Lib_TextDrawCB(uint64_t(uintptr_t(TextTable[h])));
}

// The input as the opening scenario of a container, cached as the story's
// preload leaves it.
void CacheScript(const uint8_t* data, size_t size) {
    const std::string arc =
        fuzz_script::Container({{"00_init.txt", std::string(reinterpret_cast<const char*>(data), size)}});
    if (CacheEntry* old = Lib_CashGetHitInfo("script/script.arc", kCacheEntryId)) Lib_CashRemove(old);
    void* cached = Lib_CashAlloc("script/script.arc", arc.size(), 256);
    Check(cached != nullptr);
    std::memcpy(cached, arc.data(), arc.size());
    CacheEntry* e = Lib_CashEntryOf(cached, 256);
    e->tag = 2;
    Lib_CashSetComplete(e);
}

int32_t g_inputTask = -1;
uint64_t g_heap0Blocks = 0;
int32_t g_spriteObjects = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_scratch::Enter(argc, argv, "vn_script_stage_fuzz");
    // Mesa's EGL keeps allocations that show as leaks once it is unloaded.
    dlopen("libEGL.so.1", RTLD_LAZY | RTLD_NODELETE);
    const char* env = std::getenv("VN_SAMPLE_DATA");
    const fs::path sample = env && *env ? fs::path(env) : fs::path(fuzz_scratch::Start()) / "seeds" / "game" / "data";
    fs::create_directories("data");
    for (const char* name : {"data_00.pcarc", "data_p00.pcarc"}) {
        std::error_code ec;
        fs::create_symlink(fs::absolute(sample / name), fs::path("data") / name, ec);
    }

    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 64 * mib, 24 * mib, 64 * mib, 128 * mib};
    Check(Lib_MemInit(sizes));
    Check(Lib_TaskInit());
    Lib_DebugSetSink(Quiet);
    if (!Plat_GLHeadlessStart(1280, 720) || !Lib_GraphicsInit()) {
        std::fprintf(stderr, "script_stage_fuzz: no headless OpenGL 3.3 context: %s\n", Plat_GLError());
        std::abort();
    }
    Lib_PcArcOpen();
    if (!Lib_PcArcExists(0)) {
        std::fprintf(stderr, "script_stage_fuzz: no sample archives in %s (set VN_SAMPLE_DATA)\n",
                     sample.string().c_str());
        std::abort();
    }
    Lib_MesSystemLoad();
    Lib_MesLoad();

    Lib_TimerSetClock(Now);
    g_textOps = Lib_TextOps();
    g_textOps.nowUs = Now;
    Lib_TextOpsSet(&g_textOps);
    Check(Plat_AudioOpenNull(48000));
    Lib_SoundSetClock(Now);
    Lib_SoundReset();
    Lib_InputInit();
    Main_ScreenCallsSet();
    g_inputTask = Lib_TaskSet("Main_InputCB", Main_InputCB, 10000, 401, 0);
    Check(g_inputTask >= 0);
    g_heap0Blocks = HeapTable.heaps[HEAP_GENERAL].usedCount;
    g_spriteObjects = SpriteLiveObjects;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxScript) return 0;
    CacheScript(data, size);
    std::memset(static_cast<void*>(&GameStateBlock), 0, sizeof GameStateBlock);
    GSL_SystemDataReset();
    GSL_StageReset(&GameStateBlock.stage, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
    std::strcpy(GameStateBlock.scriptName, "00_init.txt");

    // The story screen's context holds the interpreter task in slot 0.
    for (ModeFunction& m : ModeStack) m = nullptr;
    ModeStack[0] = GSL_StoryModeCB;
    GSL_WorkCreate();
    ScreenWork* story = GSL_WorkGet(GSL_StoryModeCB);
    Check(story != nullptr);
    story->step = STORY_STEP_SETUP;
    const int32_t task = GSL_ScriptTaskSet();
    Check(task >= 0);
    story->tasks[0] = task;

    PlatInputState input = Plat_InputIdle();
    input.focus = 1;
    const uint8_t key = uint8_t(Lib_InputKeyCode(0, BUTTON_DECIDE, 0) & 0xFF);
    int busyFrames = 0;
    for (int frame = 0; frame < kFrames && GSL_ScriptTaskWork(task) && busyFrames < kBusyFrames; ++frame) {
        input.keys[key] = frame % 2 == 1 ? kPlatDown : 0;
        Plat_InputInject(input);
        Frame();
        if (RanOutOfTags(task)) ++busyFrames;
    }

    // Taken down as the story screen's exit and the program's end do: its
    // context, the widgets through their own delete calls (a wipe's rule
    // texture goes with it), then every task but the input task, the
    // sprites and texts left behind.
    if (GSL_ScriptTaskWork(task)) GSL_ScriptTaskEnd(task);
    GSL_WorkDeleteAll();
    for (ModeFunction& m : ModeStack) m = nullptr;
    Lib_TaskPass(true);
    for (int32_t slot = 0; slot < kTaskSlots; ++slot)
        if (const TaskRecord* t = TaskTable.slots[slot]; t && slot != g_inputTask && !t->dead)
            if (WidgetDeleteFn del = GSL_WidgetDeleteFind(t->callback)) del(slot);
    GSL_SystemWidgetsEnd();
    for (int32_t slot = 0; slot < kTaskSlots; ++slot)
        if (slot != g_inputTask && TaskTable.slots[slot]) Lib_TaskDel(uint32_t(slot));
    Lib_TaskPass(true);
    for (int i = 0; i < 4; ++i) Frame();  // loads still in flight end
    for (int32_t i = 0; i < kFileLoadSlots; ++i) Lib_FileLoadEnd(i);
    for (int32_t i = 0; i < kTextSlots; ++i) {
        if (TextTable[i]) TextTable[i]->state &= uint8_t(~TEXT_STATE_PROTECTED);
        Lib_TextDel(i);
    }
    for (int32_t i = 0; i < kSpriteSlots; ++i) {
        SpriteTable[i].flags |= SPRITE_FAILED;
        Lib_SpriteFree(i);
    }
    Lib_SoundReset();
    Plat_InputInject(Plat_InputIdle());
    Frame();
    // Every texture and sampler the sprites made is gone with them.
    Check(SpriteLiveObjects == g_spriteObjects);
    return 0;
}
