#include "ui/move_alpha.h"

#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "ui/trans_num.h"
#include "ui/widget_delete.h"

static_assert(sizeof(MoveWork) <= kWidgetWorkSize);
static_assert(sizeof(AlphaWork) <= kWidgetWorkSize);

namespace {
MoveWork* moveWork(int32_t slot) { return reinterpret_cast<MoveWork*>(GSL_WidgetWorkGet(slot, GSL_SystemMoveCB)); }
AlphaWork* alphaWork(int32_t slot) {
    return reinterpret_cast<AlphaWork*>(GSL_WidgetWorkGet(slot, GSL_SystemAlphaCB));
}

TextRecord* textAt(int32_t slot) { return slot >= 0 && slot < kTextSlots ? TextTable[slot] : nullptr; }

// The transitions write into the work area: they go before it does.
void dropMoves(MoveWork* w) {
    for (int32_t i = 0; i < 3; ++i) {
        if (w->trans[i] >= 0) GSL_SystemTransNumDel(w->trans[i], &w->current[i]);
        w->trans[i] = -1;
    }
}
void moveDelete(int32_t slot) {
    if (MoveWork* w = moveWork(slot)) dropMoves(w);
}
void dropAlpha(AlphaWork* w) {
    if (w->trans >= 0) GSL_SystemTransNumDel(w->trans, &w->current);
    w->trans = -1;
}
void alphaDelete(int32_t slot) {
    if (AlphaWork* w = alphaWork(slot)) dropAlpha(w);
}

bool finishAsked(const WidgetWork* w) {
    const TaskRecord* t = GSL_WidgetRecord(w);
    return t && t->finishRequest;
}

// The target's three values of the widget's kind; zeros when it is missing.
void readValues(const MoveWork* w, float out[3]) {
    out[0] = out[1] = out[2] = 0.0f;
    if (w->textMode) {
        const TextRecord* t = textAt(w->target);
        if (!t) return;
        if (w->kind == MOVE_POSITION) {
            out[0] = float(t->x), out[1] = float(t->y), out[2] = float(t->z);
        } else if (w->kind == MOVE_SCALE) {
            const TextScale s = Lib_TextScaleGet(w->target);
            out[0] = s.x, out[1] = s.y, out[2] = 1.0f;
        }
        return;
    }
    if (!Lib_SpriteIsLive(w->target)) return;
    const SpriteRecord& s = *Lib_SpriteAt(w->target);
    if (w->kind == MOVE_POSITION) out[0] = s.posX, out[1] = s.posY, out[2] = s.posZ;
    else if (w->kind == MOVE_SCALE) out[0] = s.scaleX, out[1] = s.scaleY, out[2] = s.scaleZ;
    else out[0] = s.rotX, out[1] = s.rotY, out[2] = s.rotZ;
}

void writeValues(const MoveWork* w) {
    const float* v = w->current;
    if (w->textMode) {
        if (!textAt(w->target)) return;
        if (w->kind == MOVE_POSITION) {
            const TextPos p{int32_t(v[0]), int32_t(v[1]), int32_t(v[2])};
            Lib_TextPosSet(w->target, &p);
        } else if (w->kind == MOVE_SCALE) {
            const TextScale s{v[0], v[1]};
            Lib_TextScaleSet(w->target, &s);
        }
        return;
    }
    if (!Lib_SpriteIsLive(w->target)) return;
    SpriteRecord& s = *Lib_SpriteAt(w->target);
    if (w->kind == MOVE_POSITION) s.posX = v[0], s.posY = v[1], s.posZ = v[2];
    else if (w->kind == MOVE_SCALE) s.scaleX = v[0], s.scaleY = v[1], s.scaleZ = v[2];
    else s.rotX = v[0], s.rotY = v[1], s.rotZ = v[2];
}

uint32_t colourOf(const AlphaWork* w) {
    if (w->textMode) {
        const TextRecord* t = textAt(w->target);
        return t ? t->colour : 0xFFFFFFFFu;
    }
    return Lib_SpriteGetColor(w->target);
}
}  // namespace

int32_t GSL_SystemMoveSet(int32_t sprite, int32_t text, const float goals[3], int32_t frames, int8_t mode,
                          uint8_t endFlag, int32_t kind, uint8_t mask) {
    if ((sprite < 0 && text < 0) || !goals) return -1;
    GSL_WidgetDeleteRegister(GSL_SystemMoveCB, moveDelete);
    auto* w = reinterpret_cast<MoveWork*>(
        GSL_WidgetCreate("GSL_SystemMoveCB", GSL_SystemMoveCB, kWidgetPriority, kWidgetGroupScreen, 0));
    if (!w) return -1;
    w->textMode = sprite < 0;
    w->target = sprite < 0 ? text : sprite;
    w->frames = frames;
    w->mode = mode;
    for (int32_t i = 0; i < 3; ++i) w->trans[i] = -1, w->goal[i] = goals[i];
    w->endFlag = endFlag;
    w->transPriority = kWidgetPriority;
    w->transGroup = kWidgetGroupScreen;
    w->kind = kind;
    w->mask = mask;
    return w->head.slot;
}

void GSL_SystemMoveDel(int32_t slot) {
    MoveWork* w = moveWork(slot);
    if (!w) return;
    dropMoves(w);
    Lib_TaskDel(uint32_t(slot));
}

int32_t GSL_SystemMoveCheck(int32_t slot) {
    const MoveWork* w = moveWork(slot);
    return w ? int32_t(w->done != 0) : -1;
}

int32_t GSL_SystemMoveCB(void* work) {
    auto* w = static_cast<MoveWork*>(work);
    if (!w) return 0;
    if (finishAsked(&w->head)) {
        dropMoves(w);
        return 1;
    }
    switch (w->head.state) {
        case WIDGET_STARTING:
            if (w->textMode && w->kind == MOVE_ROTATION) {
                w->done = 1;
                w->head.state = WIDGET_FINISHED;
                return int32_t(w->endFlag != 0);
            }
            readValues(w, w->current);
            for (int32_t i = 0; i < 3; ++i) {
                if (!(w->mask >> i & 1) || w->goal[i] == w->current[i]) continue;
                w->trans[i] = GSL_SystemTransNumSetF(&w->current[i], w->goal[i], w->frames, int8_t(w->mode),
                                                     uint16_t(w->transPriority), uint16_t(w->transGroup),
                                                     uint8_t(w->transFlags));
            }
            w->head.state = WIDGET_RUNNING;
            return 0;
        case WIDGET_RUNNING: {
            float live[3];
            readValues(w, live);
            for (int32_t i = 0; i < 3; ++i)
                if (!(w->mask >> i & 1)) w->current[i] = live[i];
            writeValues(w);
            for (int32_t i = 0; i < 3; ++i)
                if (!GSL_SystemTransNumCheck(w->trans[i], &w->current[i])) return 0;
            dropMoves(w);
            w->done = 1;
            w->head.state = WIDGET_FINISHED;
            return int32_t(w->endFlag != 0);
        }
        default: return int32_t(w->endFlag != 0);
    }
}

int32_t GSL_SystemAlphaSet(int32_t sprite, int32_t text, int32_t alpha, int32_t frames, int8_t mode,
                           uint8_t endFlag) {
    if (sprite < 0 && text < 0) return -1;
    GSL_WidgetDeleteRegister(GSL_SystemAlphaCB, alphaDelete);
    auto* w = reinterpret_cast<AlphaWork*>(
        GSL_WidgetCreate("GSL_SystemAlphaCB", GSL_SystemAlphaCB, kWidgetPriority, kWidgetGroupScreen, 0));
    if (!w) return -1;
    w->textMode = sprite < 0;
    w->target = sprite < 0 ? text : sprite;
    w->goal = alpha < 0 ? 0 : alpha > 255 ? 255 : alpha;
    w->frames = frames;
    w->mode = mode;
    w->endFlag = endFlag;
    w->trans = -1;
    return w->head.slot;
}

void GSL_SystemAlphaDel(int32_t slot) {
    AlphaWork* w = alphaWork(slot);
    if (!w) return;
    dropAlpha(w);
    Lib_TaskDel(uint32_t(slot));
}

int32_t GSL_SystemAlphaCheck(int32_t slot) {
    const AlphaWork* w = alphaWork(slot);
    return w ? int32_t(w->done != 0) : -1;
}

int32_t GSL_SystemAlphaCB(void* work) {
    auto* w = static_cast<AlphaWork*>(work);
    if (!w) return 0;
    if (finishAsked(&w->head)) {
        dropAlpha(w);
        return 1;
    }
    switch (w->head.state) {
        case WIDGET_STARTING:
            w->current = int32_t(colourOf(w) >> 24);
            if (w->current != w->goal)
                w->trans = GSL_SystemTransNumSet(&w->current, w->goal, w->frames, int8_t(w->mode), kWidgetPriority,
                                                 kWidgetGroupScreen, 0);
            w->head.state = WIDGET_RUNNING;
            return 0;
        case WIDGET_RUNNING: {
            const uint32_t colour = (colourOf(w) & 0x00FFFFFFu) | (uint32_t(w->current) & 0xFFu) << 24;
            if (w->textMode) {
                if (textAt(w->target)) Lib_TextRgbaSet(w->target, colour);
            } else {
                Lib_SpriteSetColor(w->target, colour);
            }
            if (w->current != w->goal) return 0;
            dropAlpha(w);
            w->done = 1;
            w->head.state = WIDGET_FINISHED;
            return int32_t(w->endFlag != 0);
        }
        default: return int32_t(w->endFlag != 0);
    }
}
