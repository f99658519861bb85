// The stage harness with the message-text measuring modes: fixed advances
// (32 below 0x80, 64 otherwise at scale 1, so a wide character at size 0.5 is
// 32 units and 66 columns are 1056 units), a fixed rasteriser for the indent
// advance (64, or 32 below 0x80), or the sample's real faces.
#pragma once

#include <cstring>
#include <string>

#include "engine/text/font.h"
#include "script/markup.h"
#include "tests/engine/text/text_env.h"
#include "tests/script/stage_env.h"

class MarkupEnv : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::memset(static_cast<void*>(&stage), 0, sizeof stage);
        stage.textSizeX = stage.textSizeY = 0.5f;
        stage.textColor = 0xFF000000u;
        ctx.stage = &stage;
        SystemDataBlock.language = 0;
    }
    void TearDown() override {
        if (fixed_) Lib_TextOpsSet(nullptr), Lib_GlyphRasterSet(nullptr);
        StageEnv::TearDown();
    }

public:
    // Fixed advances for measuring and for the indent.
    void FixedAdvances() {
        fixed_ = true;
        text_env::Install();
        Lib_GlyphRasterSet([](int32_t, uint32_t code, bool, RasterGlyph* g) {
            static const uint8_t px[64 * 64] = {};
            *g = RasterGlyph{20, 20, 0, 20, code < 0x80 ? 32 : 64, 20, px};
            return true;
        });
    }
    // Converts as the text command does (hanging, default columns and scale).
    std::string Convert(const std::string& in, bool hanging = true, float columns = -1.0f) {
        char out[kMarkupSize];
        std::memset(out, 0x55, sizeof out);
        GSL_MarkupConvert(&ctx, in.c_str(), out, sizeof out, hanging, columns, 0.0f);
        return out;
    }

    StageRecord stage{};
    CommandContext ctx{};

private:
    bool fixed_ = false;
};
