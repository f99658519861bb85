// The save screen: the slot list; a confirmed slot is saved with a picture of
// the story as the menu captured it and a detail text, then the system data
// (which remembers the slot) writes the save image to disk. One save, good or
// not, ends the screen.
#include "screens/save.h"

#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/heap.h"
#include "engine/render/image_decode.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "story/save_store.h"
#include "story/story_screen.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"

namespace {
constexpr int32_t kThumbW = 228, kThumbH = 128;
constexpr uint32_t kThumbBytes = uint32_t(kThumbW) * kThumbH * 4;
static_assert(kSavePictSize == 18 + kThumbBytes);
constexpr size_t kComposeSize = 1536;

const SlotScreen kSave{GSL_SaveModeCB, "visual/system/sys_save_bg.ext", 1, false, 19, 17, nullptr};

// Appends by whole characters while they fit with the terminator.
void Append(char* out, size_t size, size_t* len, const char* text) {
    for (const char* p = text; *p;) {
        size_t n = Lib_CharLen(p);
        if (n == 0) n = 1;
        if (std::memchr(p, 0, n) || *len + n + 1 > size) return;
        std::memcpy(out + *len, p, n);
        *len += n;
        out[*len] = '\0';
        p += n;
    }
}

// The save screen's own sub-states of the main step, after SLOT_MAIN_ACT_WAIT:
// the system data is written with the slot just saved.
constexpr int32_t SAVE_SYSTEM = 12, SAVE_SYSTEM_WAIT = 13;

void* Picture(const ScreenWork* w) { return reinterpret_cast<void*>(uintptr_t(w->words[SLOT_WORD_BUFFER])); }

void SaveInit(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    SlotScreenOpen(w, kSave);
    w->step = SLOT_STEP_BUILD;
}

void SaveBuild(ScreenWork* w) { SlotScreenBuild(w, kSave); }

// The slot picture's read-back from the story's capture: started with the
// save's question, while the GL draws its frames, and taken once the answer
// is yes, so that no frame waits for the GL's copy.
void PictureRead(ScreenWork* w) {
    if (GSL_WorkWord(w, SLOT_WORD_READ) == 0 && StoryCaptureSprite >= 0)
        GSL_WorkWordSet(w, SLOT_WORD_READ, int32_t(Save_PictureRead(StoryCaptureSprite)));
}

void PictureReadEnd(ScreenWork* w) {
    Lib_ScreenReadEnd(uint32_t(GSL_WorkWord(w, SLOT_WORD_READ)));
    GSL_WorkWordSet(w, SLOT_WORD_READ, 0);
}

void SaveStart(ScreenWork* w) {
    PictureRead(w);
    void* picture = Save_PictureTake(uint32_t(GSL_WorkWord(w, SLOT_WORD_READ)));
    GSL_WorkWordSet(w, SLOT_WORD_READ, 0);
    w->words[SLOT_WORD_BUFFER] = uint64_t(uintptr_t(picture));
    SaveRequest request;
    GSL_GameSlotRequestBuild(&request);
    Save_DetailMake(request.detail, sizeof request.detail);
    request.picture = picture;
    request.pictureSize = picture ? kSavePictSize : 0;
    GSL_WorkWordSet(w, SLOT_WORD_TASK, Lib_SaveTaskSet(SAVE_TASK_SAVE, &request, GSL_WorkWord(w, SLOT_WORD_TARGET)));
    w->subState = SLOT_MAIN_ACT_WAIT;
}

void SaveWait(ScreenWork* w) {
    SaveTaskCode code = SAVE_CODE_NO_TASK;
    if (!SlotTaskFinished(w, &code)) return;
    Lib_MemFree(HEAP_SCREEN, Picture(w));
    GSL_WorkWordSet(w, SLOT_WORD_BUFFER, 0);
    // A failed write: nothing of it may reach the system data.
    w->subState = code == SAVE_CODE_OK || code == SAVE_CODE_CREATED ? SAVE_SYSTEM : SUBSTATE_CLOSE;
}

void SystemSaveStart(ScreenWork* w) {
    SystemDataBlock.lastSlot = uint8_t(GSL_WorkWord(w, SLOT_WORD_TARGET));
    SaveRequest request;
    GSL_SystemSaveRequestBuild(&request);
    GSL_WorkWordSet(w, SLOT_WORD_TASK, Lib_SaveTaskSet(SAVE_TASK_SAVE, &request, kSaveSystemSlot));
    w->subState = SAVE_SYSTEM_WAIT;
}

void SystemSaveWait(ScreenWork* w) {
    if (!SlotTaskFinished(w, nullptr)) return;
    SlotListGet(w)->pending = SUBSTATE_CLOSE;
    w->subState = SLOT_MAIN_REFRESH;
}

void SaveMain(ScreenWork* w) {
    if (w->subState == SLOT_MAIN_ASK)
        if (const SaveSlotList* list = SlotListGet(w); list && list->pending < 0) PictureRead(w);
    if (SlotScreenMain(w, kSave)) return;
    switch (w->subState) {
        case SLOT_MAIN_ACT: SaveStart(w); return;
        case SLOT_MAIN_ACT_WAIT: SaveWait(w); return;
        case SAVE_SYSTEM: SystemSaveStart(w); return;
        case SAVE_SYSTEM_WAIT: SystemSaveWait(w); return;
        case SUBSTATE_CLOSE:
            GSL_WorkLayerFree(nullptr, SLOT_LAYER_DIM);
            w->step = SLOT_STEP_LEAVE;
            w->subState = SUBSTATE_ENTRY;
            return;
        default: return;
    }
}

void SaveEnd(ScreenWork* w) {
    GSL_SystemDispColorSet(0xFF000000u, 16);
    if (!GSL_SystemDispColorCheck()) return;
    PictureReadEnd(w);  // a question answered no
    SlotScreenTeardown(w);
}

using Step = void (*)(ScreenWork*);
const Step kSteps[] = {SaveInit, SaveBuild, SaveMain, SaveEnd};
}  // namespace

uint32_t Save_PictureRead(int32_t captureSprite) {
    const SpriteRecord* r = Lib_SpriteIsLive(captureSprite) ? Lib_SpriteAt(captureSprite) : nullptr;
    if (!r || !r->texture) return 0;
    // The picture is made from the top-left 320×180 of the frame, read into
    // rows as wide as the frame's: the rows the reduction walks.
    return Lib_ScreenReadStart(r->texture, 0, 0, kThumbSourceWidth, kThumbSourceHeight, kThumbSourceStride);
}

void* Save_PictureTake(uint32_t read) {
    const auto* capture = static_cast<const uint8_t*>(Lib_ScreenReadMap(read));
    auto* block = capture ? static_cast<uint8_t*>(Lib_MemAlloc(HEAP_SCREEN, kSavePictSize, 16)) : nullptr;
    if (block) {
        std::memset(block, 0, 18);
        block[12] = uint8_t(kThumbW & 0xFF);
        block[13] = uint8_t(kThumbW >> 8);
        block[14] = uint8_t(kThumbH & 0xFF);
        block[15] = uint8_t(kThumbH >> 8);
        block[16] = 32;
        block[17] = 0x10;
        uint8_t* pixels = block + 18;
        Lib_MakeThumbnail(pixels, kThumbW, kThumbH, capture);
        // Opaque, as the capture is taken: a box of opaque pixels is opaque.
        for (uint32_t i = 3; i < kThumbBytes; i += 4) pixels[i] = 0xFF;
    }
    Lib_ScreenReadEnd(read);
    return block;
}

void* Save_PictureMake(int32_t captureSprite) { return Save_PictureTake(Save_PictureRead(captureSprite)); }

void Save_DetailMake(char* out, size_t size) {
    if (!out || size == 0) return;
    char text[kComposeSize] = {};
    size_t len = 0;
    const GameState& g = GameStateBlock;
    // The chapter name comes from a loaded block: at most 66 bytes of it.
    char chapter[sizeof g.stage.name + 1];
    std::memcpy(chapter, g.stage.name, sizeof g.stage.name);
    chapter[sizeof g.stage.name] = '\0';
    char name66[sizeof g.stage.name];
    GSL_WorkNameCopy(name66, sizeof name66, chapter);
    Append(text, sizeof text, &len, name66);
    Append(text, sizeof text, &len, "\n");
    char clock[64];
    std::snprintf(clock, sizeof clock, "%s %02d:%02d:%02d\n", "SYSTEM_2028", int(g.playHours), int(g.playMinutes),
                  int(g.playSeconds));
    Append(text, sizeof text, &len, clock);
    const uint32_t index = g.readLineCount;
    if (index < kReadLineSize) {
        char name[kComposeSize] = "", line[kComposeSize] = "";
        ++GameStateBlock.readLineCount;
        const int32_t r = GSL_ScriptLineTextInto(index, name, sizeof name, line, sizeof line, LINE_ADD | LINE_RAW);
        --GameStateBlock.readLineCount;
        name[sizeof name - 1] = line[sizeof line - 1] = '\0';
        if (r == 0 || r == 1) {
            if (name[0]) {
                Append(text, sizeof text, &len, name);
                Append(text, sizeof text, &len, "\n");
            }
            if (r == 0) {
                Append(text, sizeof text, &len, line);
                Append(text, sizeof text, &len, "\n");
            }
        }
    }
    if (len > 0 && text[len - 1] == '\n') text[--len] = '\0';
    GSL_WorkNameCopy(out, size, text);
}

void GSL_SaveModeCB() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : 0;
    if (step >= 0 && step < int32_t(sizeof kSteps / sizeof kSteps[0])) kSteps[step](w);
}
