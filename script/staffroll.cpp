#include "script/staffroll.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/task.h"
#include "engine/input/input.h"
#include "engine/render/draw_list.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "script/args.h"
#include "script/flow.h"
#include "script/message.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "ui/mode.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/trans_num.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

int32_t StaffrollTask = -1;

namespace {

constexpr uint16_t kRollPriority = 34000;
constexpr uint16_t kRollGroup = 400;
constexpr uint32_t kLineMax = kTextBufferSize - 1;  // a credit line's bytes
constexpr int32_t kShowLimit = 800;

struct StaffrollWork {
    WidgetWork head;
    int32_t frames;
    int32_t count;
    int32_t scroll;
    int32_t last;
    int32_t trans;
};
static_assert(sizeof(StaffrollWork) <= kWidgetWorkSize);

ModeFunction Story() { return GSL_ScreenOf(SCREEN_STORY); }

TextRecord* StoryText(int32_t slot) {
    const int32_t h = GSL_WorkTextGet(Story(), uint32_t(slot));
    return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
}

int32_t Clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

bool StartsWith(const char* p, uint32_t left, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return n <= left && std::memcmp(p, prefix, n) == 0;
}

// Bytes of text that fit in limit bytes without cutting a character.
size_t FitBytes(const char* text, size_t len, size_t limit) {
    size_t n = 0;
    while (n < len) {
        size_t c = Lib_CharLen(text + n);
        if (c == 0) c = 1;
        if (n + c > len || n + c > limit) break;
        n += c;
    }
    return n;
}

void AppendCut(char* dst, size_t size, const char* src) {
    const size_t have = std::strlen(dst);
    if (have + 1 >= size) return;
    const size_t n = FitBytes(src, std::strlen(src), size - 1 - have);
    std::memcpy(dst + have, src, n);
    dst[have + n] = 0;
}

void RollTextsFree(int32_t count) {
    if (count > kStaffrollTexts) count = kStaffrollTexts;
    for (int32_t i = 0; i < count; ++i) GSL_WorkTextFree(Story(), uint32_t(i));
}

// A credit line into the story screen's text slot.
void PutCredit(int32_t slot, const char* line, float size, int32_t y, bool append, void*) {
    if (append) {
        TextRecord* r = StoryText(slot);
        if (!r) return;
        static char joined[kTextBufferSize];
        std::memcpy(joined, r->text, sizeof joined);
        joined[kTextBufferSize - 1] = 0;
        AppendCut(joined, sizeof joined, line);
        Lib_TextStrSet(GSL_WorkTextGet(Story(), uint32_t(slot)), joined);
        r->finished = 0;
        return;
    }
    const int32_t h = GSL_WorkTextSet(Story(), uint32_t(slot), -1, line);
    if (h < 0 || !TextTable[h]) return;
    TextRecord* r = TextTable[h];
    r->state &= uint8_t(~TEXT_STATE_DRAWN);
    const TextScale scale{size, size};
    Lib_TextScaleSet(h, &scale);
    Lib_TextPrioSet(h, kStaffrollPriority);
    if (r->drawEntry >= 0) Lib_DrawSetPrio(uint32_t(r->drawEntry), r->layer, -1);
    const TextPos pos{kStaffrollX, y, 0};
    Lib_TextPosSet(h, &pos);
    Lib_TextRgbaSet(h, kStaffrollColour);
    Lib_TextRubyMove(r, nullptr);
}

void RollDelete(int32_t slot) {
    auto* w = reinterpret_cast<StaffrollWork*>(GSL_WidgetWorkGet(slot, staffrollCB));
    if (!w) return;
    GSL_SystemTransNumDel(w->trans, &w->scroll);
    w->trans = -1;
    RollTextsFree(w->count);
    w->count = 0;
    if (StaffrollTask == slot) StaffrollTask = -1;
}

// Sets up the roll: the credits as texts, and the scroll's transition.
void RollSetUp(StaffrollWork* w, ScriptTaskWork* script) {
    for (int32_t i = 0; i < kStaffrollTexts; ++i) GSL_WorkTextFree(Story(), uint32_t(i));
    const ScriptState& s = script->script;
    const LabelRecord label = GSL_InfoFind(script->fileName, "*text");
    const uint32_t from = label.offset < s.size ? uint32_t(label.offset) : s.size;
    int32_t y = 0;
    w->count = GSL_StaffrollRead(s.text, s.text ? s.size : 0, from, PutCredit, nullptr, &y);
    w->trans = GSL_SystemTransNumSet(&w->scroll, Clamp32(int64_t(y) + 396), w->frames, TRANS_LINEAR, kRollPriority,
                                     kRollGroup, 0);
}

void RollScroll(StaffrollWork* w) {
    const int32_t delta = int32_t(std::clamp<int64_t>(int64_t(w->scroll) - w->last, -INT32_MAX, INT32_MAX));
    w->last = w->scroll;
    for (int32_t i = 0; i < w->count && i < kStaffrollTexts; ++i) {
        TextRecord* r = StoryText(i);
        if (!r) continue;
        r->y = Clamp32(int64_t(r->y) - delta);
        const TextPos offset{0, -delta, 0};
        Lib_TextRubyMove(r, &offset);
        if (r->y >= kShowLimit) {
            GSL_WorkTextFree(Story(), uint32_t(i));
        } else if (r->y >= -kShowLimit) {
            r->state |= TEXT_STATE_DRAWN;
            Lib_TextRubyMove(r, nullptr);
        }
    }
}

bool StoryOnTop() { return Story() && GSL_ModeTop() == Story() && GSL_WorkGet(Story()); }

void IconShow(uint8_t visible) {
    const int32_t id = GSL_WorkLayerGet(Story(), kStaffrollIconSlot);
    Lib_SpriteSetFlag(id, visible);
}

bool ReplayNothing(const CommandContext* ctx) { return GSL_ReplayModeGet(ctx) != REPLAY_NORMAL; }

}  // namespace

int32_t GSL_StaffrollTaskGet() {
    if (StaffrollTask >= 0 && GSL_WidgetWorkGet(StaffrollTask, staffrollCB)) return StaffrollTask;
    StaffrollTask = -1;
    return -1;
}

bool GSL_StaffrollIsActive() {
    const ScriptTaskWork* w = GSL_ScriptTaskWork(GSL_ScriptStoryTask());
    return w && w->context.stage && (w->context.stage->flags & kStageRollBit);
}

int32_t GSL_StaffrollRead(const char* text, uint32_t size, uint32_t from, CreditPut put, void* user, int32_t* endY) {
    float scale = 0.5f;
    int32_t y = 0, count = 0;
    bool first = true, held = false;
    static char line[kTextBufferSize], expanded[kTextBufferSize];
    uint32_t at = text ? from : size;
    while (at < size) {
        const char* p = text + at;
        const uint32_t left = size - at;
        if (StartsWith(p, left, "<font>")) break;
        if (StartsWith(p, left, "<font ")) {
            char digits[16] = {};
            const uint32_t n = left - 6 < sizeof digits - 1 ? left - 6 : uint32_t(sizeof digits - 1);
            std::memcpy(digits, p + 6, n);
            scale = float(GSL_ScriptAtoi(digits, nullptr)) / 30.0f * 0.5f;
            if (held) {
                ++count;
                held = false;
            }
        } else if (StartsWith(p, left, "<text ")) {
            const char* body = p + 6;
            const uint32_t avail = left - 6;
            const void* gt = std::memchr(body, '>', avail);
            uint32_t len = gt ? uint32_t(static_cast<const char*>(gt) - body) : avail;
            // Copied first: the member has no terminator to stop a character.
            if (len > kLineMax) len = kLineMax;
            std::memcpy(line, body, len);
            line[len] = 0;
            line[FitBytes(line, len, len)] = 0;
            if (count < kStaffrollTexts) {
                GSL_TextIdExpand(line, expanded, sizeof expanded);
                if (std::strcmp(expanded, "#n") != 0) AppendCut(expanded, sizeof expanded, "#n");
                if (put) put(count, expanded, scale, y, held, user);
                held = true;
            }
            // Sizes come from the script: the pen stays within the i32 range.
            const double step = std::clamp(std::trunc((first ? 64.0 : 80.0) * double(scale)), -4e9, 4e9);
            y = Clamp32(int64_t(y) - int64_t(step));
            first = false;
        }
        const void* lf = std::memchr(p, '\n', left);
        if (!lf) break;
        at += uint32_t(static_cast<const char*>(lf) - p) + 1;
    }
    if (count < kStaffrollTexts) ++count;
    if (endY) *endY = y;
    return count;
}

int32_t staffrollCB(void* work) {
    auto* w = static_cast<StaffrollWork*>(work);
    TaskRecord* self = GSL_WidgetRecord(&w->head);
    ScriptTaskWork* script = GSL_ScriptTaskWork(GSL_ScriptStoryTask());
    if (((self && self->finishRequest) || !script) && w->head.state < 99) w->head.state = 99;
    if (w->head.state == 0) {
        RollSetUp(w, script);
        w->head.state = 1;
    } else if (w->head.state == 1) {
        RollScroll(w);
        if (w->trans < 0 || GSL_SystemTransNumCheck(w->trans, &w->scroll)) w->head.state = 99;
        return 0;
    }
    if (w->head.state < 99) return 0;
    RollDelete(w->head.slot);
    return 1;
}

void GSL_CmdStaffrollStart(CommandContext* ctx) {
    if (ReplayNothing(ctx)) return;
    ctx->stage->flags |= kStageRollBit;
    if (StoryOnTop()) {
        if (StoryPlayMode & (PLAY_SKIP | PLAY_AUTO)) IconShow(0);
        StoryPlayMode &= ~(PLAY_SKIP | PLAY_AUTO);
    }
    const int32_t frames = int32_t(GSL_WaitFrames(GSL_ArgGetInt(ctx, nullptr, 0)));
    if (GSL_StaffrollTaskGet() >= 0) return;
    GSL_WidgetDeleteRegister(staffrollCB, RollDelete);
    auto* w = reinterpret_cast<StaffrollWork*>(
        GSL_WidgetCreate("staffrollCB", staffrollCB, kRollPriority, kRollGroup, TASK_FLAG_BREAKABLE));
    if (!w) return;
    w->frames = frames;
    w->count = 0;
    w->scroll = w->last = 0;
    w->trans = -1;
    StaffrollTask = w->head.slot;
}

void GSL_CmdStaffrollWait(CommandContext* ctx) {
    if (ReplayNothing(ctx)) return;
    const int32_t roll = GSL_StaffrollTaskGet();
    if (roll < 0) {
        ctx->script->status &= ~SCRIPT_BUSY;
        return;
    }
    ctx->script->status |= SCRIPT_BUSY;
    if (GSL_FlagCheck(ctx, BUTTON_DECIDE, BUTTON_RECT)) TaskTable.slots[roll]->finishRequest = 1;
}

void GSL_CmdStaffrollEnd(CommandContext* ctx) {
    if (ReplayNothing(ctx)) return;
    if (const int32_t roll = GSL_StaffrollTaskGet(); roll >= 0) TaskTable.slots[roll]->finishRequest = 1;
    ctx->stage->flags &= uint8_t(~kStageRollBit);
    if (StoryOnTop() && (StoryPlayMode & (PLAY_SKIP | PLAY_AUTO))) IconShow(1);
}
