#include "script/choice_cmds.h"

#include <cstdio>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/text/text_object.h"
#include "script/args.h"
#include "script/flow.h"
#include "script/markup.h"
#include "script/message.h"
#include "script/msg_window.h"
#include "ui/pointer.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/script_report.h"
#include "script/staffroll.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/vars.h"
#include "script/wipe_fx.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"

ChoiceListRecord ChoiceList;

namespace {

constexpr uint32_t kConfirmButton = 1;
// Steps of the choice menu: OPEN -> OPENING (the window opens) -> BUILD ->
// CHOOSE -> TAKEN, then CMD_STEP_LAST.
enum : uint32_t { MENU_OPEN = 10, MENU_OPENING = 11, MENU_BUILD = 12, MENU_CHOOSE = 13, MENU_TAKEN = 14 };
// Steps of the wait and of the debug text pages.
enum : uint32_t { WAIT_RUN = 1 };
enum : uint32_t { DEBUG_OPENING = 1, DEBUG_SHOWN = 3 };
constexpr int32_t kLayoutGroup = 5;
constexpr int32_t kSeenMarkRect = 27;
constexpr int32_t kButtonPriority = 9700000;
constexpr int32_t kSeenPriority = 9699998;
constexpr int32_t kChoiceTextPriority = 9699999;
constexpr uint8_t kStageStopLabel = 4;  // stage flag: a confirmed wait goes to "*staffroll_stop"

ModeFunction Story() { return GSL_ScreenOf(SCREEN_STORY); }

bool Replaying(const CommandContext* ctx) { return GSL_ReplayModeGet(ctx) != REPLAY_NORMAL; }

TextRecord* StoryText(uint32_t slot) {
    if (!Story()) return nullptr;
    const int32_t h = GSL_WorkTextGet(Story(), slot);
    return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
}

bool ValidMenu(int32_t id) { return id >= 0 && id < kChoiceMenus; }

// Moves the script to a choice's file (the running one when none is named)
// and label.
void OpenTarget(CommandContext* ctx, const char* file, const char* label) {
    const char* name = file;
    if (!name[0]) {
        const ScriptTaskWork* story = GSL_ScriptTaskWork(GSL_ScriptStoryTask());
        name = story ? story->fileName : GSL_ScriptWorkOf(ctx->script)->fileName;
    }
    char copy[kScriptNameSize];
    GSL_WorkNameCopy(copy, sizeof copy, name);
    GSL_ScriptOpen(ctx, copy, label, -1, 0);
}

// --- menustart ---------------------------------------------------------------

struct MenuFields {
    int32_t selected;
    int32_t highlighted;
    int32_t count;
    int32_t menuId;
    int32_t layout;
};

LayoutRect Rect(int32_t index) {
    LayoutRect r{};
    GSL_LayoutGetRect(&r, kLayoutGroup, index);
    return r;
}

void SetRect(int32_t sprite, const LayoutRect& r, int32_t down) {
    const int32_t rect[4] = {r.x, r.y + down, r.width, r.height};
    Lib_SpriteSetRect(sprite, rect);
}

int32_t Part(uint32_t slot, int32_t priority, const LayoutRect& r, float x, float y) {
    if (GSL_WorkLayerCopy(Story(), slot, kStorySheetSlot, -1) < 0) return -1;
    const int32_t s = GSL_WorkLayerGet(Story(), slot);
    if (s < 0 || s >= kSpriteSlots) return -1;
    Lib_SpriteSetPrio(s, priority, -1);
    SetRect(s, r, 0);
    SpriteTable[s].posX = x;
    SpriteTable[s].posY = y;
    SpriteTable[s].posZ = 0.0f;
    Lib_SpriteSetValue(s, 2);
    Lib_SpriteSetColor(s, 0xFFFFFFFFu);
    Lib_SpriteSetFlag(s, 1);
    return s;
}

void BuildMenu(const MenuFields* f) {
    const int32_t count = f->count;
    const int32_t gap = GSL_Scale43i(count < 5 ? 32 : 8, 9999);
    const int32_t pitch = gap + (24 - count) * 4;
    const int32_t base = GSL_Scale43i(72, 9999);
    const LayoutRect button = Rect(f->layout), seen = Rect(kSeenMarkRect);
    const uint8_t seenBits = ValidMenu(f->menuId) ? SystemDataBlock.choiceSeen[f->menuId] : 0;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t y = (count - 1) * pitch / 2 - i * pitch + base;
        Part(kChoiceButtonSlot + uint32_t(i), kButtonPriority, button, 0.0f, float(y));
        if ((seenBits >> i) & 1)
            Part(kChoiceSeenSlot + uint32_t(i), kSeenPriority, seen, float(button.width / 2),
                 float(y + button.height / 2));
        const int32_t h = GSL_WorkTextSet(Story(), kChoiceTextSlot + uint32_t(i), -1, ChoiceList.entries[i].text);
        if (h < 0 || h >= kTextSlots || !TextTable[h]) continue;
        TextRecord* t = TextTable[h];
        Lib_TextPrioSet(h, kChoiceTextPriority);
        t->colour = 0xFF000000u;
        t->scaleX = t->scaleY = 0.45f;
        t->speed = 0;
        t->drawMode = 2;
        t->state |= TEXT_STATE_DRAWN;
        TextRect m{};
        Lib_TextMeasureObj(&m, t);
        const TextPos at{640 - Lib_TextRectWidth(m) / 2, y - 351, 0};
        Lib_TextPosSet(h, &at);
        Lib_TextRubyMove(t, nullptr);
    }
}

void Highlight(const MenuFields* f) {
    const LayoutRect r = Rect(f->layout);
    for (int32_t i = 0; i < f->count; ++i) {
        const int32_t s = GSL_WorkLayerGet(Story(), kChoiceButtonSlot + uint32_t(i));
        SetRect(s, r, i == f->highlighted ? r.height + 8 : 0);
    }
}

void FreeMenu(const MenuFields* f) {
    for (int32_t i = 0; i < f->count; ++i) {
        GSL_WorkLayerFree(Story(), int32_t(kChoiceButtonSlot) + i);
        GSL_WorkLayerFree(Story(), int32_t(kChoiceSeenSlot) + i);
        GSL_WorkTextFree(Story(), kChoiceTextSlot + uint32_t(i));
    }
}

// The replay run passes the menu with the remembered choice, showing nothing.
void ReplayChoice(CommandContext* ctx, bool silent) {
    const int32_t id = GSL_ArgGetInt(ctx, nullptr, 0);
    const int32_t count = ChoiceList.count;
    ChoiceList.count = 0;
    if (count <= 0) return;
    const ChoiceEntry& e = ChoiceList.entries[GSL_ChoiceRemembered(id, count)];
    if (!silent) GSL_ExprEvalList(e.expression);
    OpenTarget(ctx, e.file, e.label);
}

void MenuStep(CommandContext* ctx, MenuFields* f) {
    if (GSL_ScriptHost().storyFlagTest(1 | 2 | 4)) return;
    for (int32_t i = 0; i < f->count; ++i) {
        int32_t rect[4] = {-1, 0, 0, 0};
        const uint8_t hit = GSL_ButtonCheck(Story(), i, rect, 0, 0, 0, -1);
        if (hit == 1 || hit == 2) {
            f->selected = i;
            break;
        }
    }
    const uint32_t pressed = InputButtons.pressed;
    if (pressed & BUTTON_UP) {
        f->selected = f->selected - 1 < 0 ? 0 : f->selected - 1;
    } else if (pressed & BUTTON_DOWN) {
        const int32_t next = f->selected + 1;
        f->selected = next >= f->count || next <= 0 ? f->count - 1 : next;
    } else if (f->selected >= 0 && f->selected < f->count && f->selected == f->highlighted &&
               GSL_FlagCheck(ctx, kConfirmButton, f->selected)) {
        // Only a choice that is shown and highlighted can be taken.
        GSL_SystemSePlay(SE_ENTER);
        ctx->script->status &= ~SCRIPT_PLAYER_WAIT;
        ctx->step = MENU_TAKEN;
        return;
    }
    if (f->selected >= 0 && f->selected < f->count && f->selected != f->highlighted) {
        GSL_SystemSePlay(SE_MOVE);
        f->highlighted = f->selected;
        Highlight(f);
    }
}

void MenuTake(CommandContext* ctx, MenuFields* f) {
    const int32_t choice = f->selected;
    if (ValidMenu(f->menuId)) {
        SystemDataBlock.choiceSeen[f->menuId] |= uint8_t(1u << choice);
        GameStateBlock.choices[f->menuId][0] = uint8_t(choice);
    }
    ctx->stage->choiceLine = int32_t(GSL_ReadLineCount()) - 1;
    const ChoiceEntry& e = ChoiceList.entries[choice];
    GSL_ExprEvalList(e.expression);
    GSL_ScriptTargetTell(ctx, e.place, e.file, e.label, std::strcmp(e.label, "top") != 0);
    OpenTarget(ctx, e.file, e.label);
    MenuActiveFlag &= ~1u;
    ctx->script->status &= ~(SCRIPT_BUSY | SCRIPT_PLAYER_WAIT);
}

// --- wait ---------------------------------------------------------------------

struct WaitFields {
    int32_t remaining;  // -1: no time given
    int32_t countdown;
    int32_t clickAllowed;
    int32_t toStopLabel;
};

bool IsTrue(const char* w) { return std::strcmp(w, "true") == 0 || std::strcmp(w, "TRUE") == 0; }

bool AutoPlay() { return (StoryPlayMode & PLAY_AUTO) && !GSL_StaffrollIsActive(); }

// Shows the message texts complete; true when one was still revealing.
bool RevealAll() {
    bool revealing = false;
    for (uint32_t i = kMessageFirstText; i <= kMessageLastText; ++i)
        if (TextRecord* r = StoryText(i); r && !r->finished) revealing = true;
    if (!revealing) return false;
    for (uint32_t i = kMessageFirstText; i <= kMessageLastText; ++i)
        if (TextRecord* r = StoryText(i)) {
            r->speed = 0;
            r->fadeIn = 0;
        }
    return true;
}

// --- debug --------------------------------------------------------------------

struct DebugFields {
    int32_t n;
    int32_t lines;
};

// Messages in section 2 of the script table (the system table when the
// script table is not loaded).
int32_t DebugTextCount() {
    const MesTable& t = ScriptMesTable.data ? ScriptMesTable : SystemMesTable;
    if (!t.data || !Lib_MesTableCheck(t.data, t.size) || t.size < 48) return 0;
    uint32_t n = 0;
    std::memcpy(&n, t.data + 8 + 2 * 4, 4);
    return n > 100000 ? 100000 : int32_t(n);
}

void DebugShow(CommandContext* ctx, DebugFields* f) {
    static char key[32], expanded[kMarkupSize], converted[kMarkupSize];
    std::snprintf(key, sizeof key, "TEXT_%d", int(f->n));
    GSL_TextIdExpand(key, expanded, sizeof expanded);
    GSL_MarkupConvert(ctx, expanded, converted, sizeof converted, true, -1.0f, 0.0f);
    const StageRecord* stage = ctx->stage;
    const int32_t h = Story() ? GSL_WorkTextSet(Story(), kMessageFirstText, -1, converted) : -1;
    if (h >= 0 && h < kTextSlots && TextTable[h]) {
        TextRecord* r = TextTable[h];
        r->scaleX = stage->textSizeX;
        r->scaleY = stage->textSizeY;
        r->colour = stage->textColor;
        r->speed = 0;
        r->fadeIn = 0;
        Lib_TextPrioSet(h, kMessagePriority);
        const TextPos at{110, -558, 0};
        Lib_TextPosSet(h, &at);
        r->letterSpacing = 0;
        r->lineSpacing = 19;
        r->clipX = 0, r->clipY = 532, r->clipWidth = 1280, r->clipHeight = 174;
        r->drawMode = 1;
        r->state |= TEXT_STATE_DRAWN;
        Lib_TextRubyMove(r, nullptr);
    }
    int32_t lines = 1;
    for (const char* p = converted; (p = std::strstr(p, "#n")) != nullptr; p += 2) ++lines;
    if (lines > f->lines) f->lines = lines;
    ctx->stage->scrollFlags |= 1;
    ctx->step = DEBUG_SHOWN;
}

}  // namespace

int32_t GSL_ChoiceRemembered(int32_t menuId, int32_t count) {
    if (!ValidMenu(menuId)) return 0;
    const int32_t c = GameStateBlock.choices[menuId][0];
    return c < count ? c : 0;
}

int32_t GSL_ChoiceLayout(int32_t menuId, int32_t language) {
    if (menuId == 1 || menuId >= 3) return 5;
    if (menuId == 2 && (language == 1 || language == 3)) return 5;
    return 4;
}

void GSL_CmdMenuAdd(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN) GSL_ReplayRecord(ctx);
    if (GSL_ArgGetInt(ctx, nullptr, 0) == 0) ChoiceList.count = 0;
    if (ChoiceList.count < 0) ChoiceList.count = 0;
    if (ChoiceList.count >= kChoiceMax) {
        Lib_DebugPrintf("Error -> menuadd: more than %d choices\n", int(kChoiceMax));
        return;
    }
    ChoiceEntry& e = ChoiceList.entries[ChoiceList.count];
    static char word[kScriptWordSize], expanded[kScriptWordSize];
    GSL_ArgGet(ctx, nullptr, 1, word, sizeof word);
    GSL_TextIdExpand(word, expanded, sizeof expanded);
    GSL_WorkNameCopy(e.text, sizeof e.text, expanded);
    GSL_ArgGet(ctx, nullptr, 2, word, sizeof word);
    GSL_WorkNameCopy(e.file, sizeof e.file, word);
    GSL_ArgGet(ctx, nullptr, 3, word, sizeof word);
    GSL_WorkNameCopy(e.label, sizeof e.label, word[0] ? word : "top");
    GSL_ArgGet(ctx, nullptr, 4, word, sizeof word);
    GSL_WorkNameCopy(e.expression, sizeof e.expression, word);
    e.place = ScriptTagPlace{ctx->script->text, ctx->script->readOffset, ctx->script->nextOffset};
    ++ChoiceList.count;
}

void GSL_CmdMenuStart(CommandContext* ctx) {
    MenuFields* f = GSL_CommandPrivate<MenuFields>(ctx);
    if (ctx->step == CMD_STEP_FIRST) {
        const ReplayMode mode = GSL_ReplayModeGet(ctx);
        if (mode == REPLAY_RUN || mode == REPLAY_SILENT) {
            ReplayChoice(ctx, mode == REPLAY_SILENT);
            return;
        }
        if (mode == REPLAY_ACTING) {
            ChoiceList.count = 0;
            return;
        }
        if (ChoiceList.count <= 0) {
            // No choice could ever be taken: the script goes on behind it.
            static char tag[512];
            GSL_ScriptReport(ctx->script, ctx->script->readOffset,
                             "%s: no menuadd before it gives a choice; the script goes on past the menu",
                             GSL_ScriptTagUtf8(ctx->script, tag, sizeof tag));
            return;
        }
        ctx->script->status |= SCRIPT_BUSY;
        MenuActiveFlag |= 1u;
        f->menuId = GSL_ArgGetInt(ctx, nullptr, 0);
        f->selected = f->highlighted = -1;
        f->count = ChoiceList.count < 0 ? 0 : ChoiceList.count > kChoiceMax ? kChoiceMax : ChoiceList.count;
        f->layout = GSL_ChoiceLayout(f->menuId, SystemDataBlock.language);
        GSL_HistoryPosGet(1, 1);
        ChoiceList.count = 0;
        ctx->step = MENU_OPEN;
    }
    if (ctx->step == MENU_OPEN) {
        openSet(int32_t(GSL_WaitFrames(200)));
        ctx->step = MENU_OPENING;
    }
    if (ctx->step == MENU_OPENING) {
        if (ctx->stage->openTask >= 0) return;
        ctx->stage->nameClear = 1;
        ctx->stage->textClear = 1;
        ctx->step = MENU_BUILD;
    }
    if (ctx->step == MENU_BUILD) {
        if (Story()) BuildMenu(f);
        ctx->script->status |= SCRIPT_PLAYER_WAIT;
        GSL_SystemSePlay(SE_SELECT);
        ctx->step = MENU_CHOOSE;
        return;
    }
    if (ctx->step == MENU_CHOOSE) {
        MenuStep(ctx, f);
        if (ctx->step != MENU_TAKEN) return;
    }
    if (ctx->step == MENU_TAKEN) {
        FreeMenu(f);
        ctx->step = CMD_STEP_LAST;
    }
    if (ctx->step == CMD_STEP_LAST) MenuTake(ctx, f);
}

void GSL_CmdWait(CommandContext* ctx) {
    WaitFields* f = GSL_CommandPrivate<WaitFields>(ctx);
    StageRecord* stage = ctx->stage;
    if (ctx->step == CMD_STEP_FIRST) {
        if (Replaying(ctx) || !stage) return;
        ctx->script->status |= SCRIPT_BUSY;
        const int32_t time = GSL_ArgGetInt(ctx, "time", 0);
        char click[kScriptWordSize];
        GSL_ArgGet(ctx, "click", 1, click, sizeof click);
        f->remaining = -1;
        if (time < 0) {
            const float s = float(int8_t(SystemDataBlock.autoSpeed));
            f->countdown = 31 + int32_t((100.0f - s) / 100.0f * 270.0f);
        } else {
            f->remaining = int32_t(GSL_WaitFrames(time));
        }
        f->clickAllowed = !click[0] || IsTrue(click);
        f->toStopLabel = 0;
        ctx->step = WAIT_RUN;
    }
    if (ctx->step == WAIT_RUN) {
        bool over = false;
        if (f->remaining > 0) over = --f->remaining == 0;
        else if (f->remaining == 0) over = true;
        if (GSL_IsSkip()) over = true;
        const bool confirm = GSL_FlagCheck(ctx, kConfirmButton, BUTTON_RECT);
        const bool timed = f->remaining >= 0;
        if (!over && !timed) {
            if (confirm) over = true;
            if (AutoPlay() && f->countdown < 1) over = true;
        }
        if ((stage->flags & kStageStopLabel) && confirm) {
            stage->flags &= uint8_t(~kStageStopLabel);
            f->toStopLabel = 1;
        }
        if (f->clickAllowed && confirm) {
            RevealAll();
            over = true;
        }
        if (!timed && AutoPlay() && !GSL_ContextCheck()) --f->countdown;
        if (!over) return;
        if (f->toStopLabel) OpenTarget(ctx, "", "*staffroll_stop");
        ctx->step = CMD_STEP_LAST;
    }
    if (ctx->step == CMD_STEP_LAST) ctx->script->status &= ~SCRIPT_BUSY;
}

void GSL_CmdClick(CommandContext* ctx) {
    if (Replaying(ctx) || !ctx->stage) return;
    if (GSL_ArgGetInt(ctx, nullptr, 0) == 0) ctx->stage->flags |= kStageStopLabel;
    else ctx->stage->flags &= uint8_t(~kStageStopLabel);
}

void GSL_CmdReturnMenu(CommandContext* ctx) {
    if (ctx->step == CMD_STEP_FIRST) {
        if (Replaying(ctx)) return;
        ctx->script->status |= SCRIPT_BUSY;
        // This very task: it ends through its finish request once the step
        // is over, never while its command runs.
        if (Story()) GSL_WorkTaskEnd(Story(), 0);
        ctx->step = CMD_STEP_LAST;
        return;
    }
    ctx->script->status &= ~SCRIPT_BUSY;
}

void GSL_CmdTrophy(CommandContext* ctx) {
    if (Replaying(ctx)) return;
    (void)GSL_ArgGetInt(ctx, nullptr, 0);
}

void GSL_CmdDebug(CommandContext* ctx) {
    DebugFields* f = GSL_CommandPrivate<DebugFields>(ctx);
    StageRecord* stage = ctx->stage;
    if (ctx->step == CMD_STEP_FIRST) {
        if (Replaying(ctx) || !stage) return;
        ctx->script->status |= SCRIPT_BUSY;
        openSet(int32_t(GSL_WaitFrames(0)));
        f->n = 0;
        f->lines = 0;
        if (DebugTextCount() <= 0) {
            ctx->step = CMD_STEP_LAST;
        } else if (stage->openTask < 0) {
            DebugShow(ctx, f);
            return;
        } else {
            ctx->step = DEBUG_OPENING;
        }
    }
    if (ctx->step == DEBUG_OPENING) {
        if (stage->openTask >= 0) return;
        DebugShow(ctx, f);
        return;
    }
    if (ctx->step == DEBUG_SHOWN) {
        if (!GSL_FlagCheck(ctx, kConfirmButton, BUTTON_WHOLE_SCREEN) && !GSL_IsSkip()) return;
        stage->scrollFlags &= uint8_t(~1u);
        for (uint32_t i = kMessageFirstText; i <= kMessageLastText; ++i)
            if (Story()) GSL_WorkTextFree(Story(), i);
        ++f->n;
        if (f->n < DebugTextCount()) {
            DebugShow(ctx, f);
            return;
        }
        ctx->step = CMD_STEP_LAST;
    }
    if (ctx->step == CMD_STEP_LAST) ctx->script->status &= ~SCRIPT_BUSY;
}
