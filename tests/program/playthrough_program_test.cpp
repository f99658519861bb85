// The whole program on the sample game, played through by a scripted player,
// in routes that each start a run of their own from the user files the route
// before left: a new game (the logos and the opening movie, the title, lines
// read with clicks, a choice, a page in auto mode, a quick save, lines read
// again after a quick load and skipped, a save to the third slot, the
// backlog with a voice replayed, back to the title); the third slot loaded
// and read on to an ending with its staff roll; from there, each on its own,
// the extras the ending unlocked (gallery viewer, music room, a special
// scenario) and the options (text speed and music volume) with a close
// answered yes; last, a run on the files the options left: the slot loads,
// the unlocks and settings are there. The steps go by state (what is on top,
// what is open), not by counts, so that a longer story changes nothing here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/app_window.h"
#include "app/frame.h"
#include "app/main_tasks.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/font.h"
#include "engine/text/text_object.h"
#include "extras/extras_screens.h"
#include "extras/extras_skeleton.h"
#include "extras/gallery.h"
#include "extras/gallery_tables.h"
#include "extras/music_room.h"
#include "extras/special_menu.h"
#include "extras/special_table.h"
#include "platform/plat_gl_api.h"
#include "platform/plat_input.h"
#include "platform/plat_window.h"
#include "screens/boot.h"
#include "screens/font_page.h"
#include "screens/manual.h"
#include "screens/option_items.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "script/game_blocks.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/staffroll.h"
#include "story/access_flags.h"
#include "story/backlog.h"
#include "story/config.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/sys_menu.h"
#include "story/system_save.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/utility_dialog.h"

namespace {
using namespace program_title;

constexpr uint8_t kKeyZ = 0x2C, kKeyX = 0x2D, kKeyC = 0x2E, kKeyS = 0x1F, kKeyD = 0x20;
constexpr uint8_t kKeyUp = 0xC8, kKeyDown = 0xD0, kKeyLeft = 0xCB, kKeyRight = 0xCD;
constexpr uint32_t kAutoBit = 0x40, kSkipBit = 0x80;
constexpr uint32_t kPageNextBit = 0x80;  // the music room's next page
// Option items: music volume and text speed.
constexpr int32_t kOptionMusic = 1, kOptionTextSpeed = 4;
// The sanitizer build plays a shorter run (its frames cost several times
// more): no quick save, quick load and skip, no music room and no special
// scenario.
#ifdef VN_SANITIZE
constexpr bool kShort = true;
#else
constexpr bool kShort = false;
#endif
// The third save slot.
constexpr int32_t kSlot = 2;
// The route: the forest at the first choice, the hill of winds at the
// second. Its ending unlocks the picture event_sefa_ed_a (id 2013), the
// tracks of catalogue records 0 and 17 (Sefa's theme, the promised sky) and
// the second special scenario.
const std::vector<int32_t> kRoute = {0, 0};
constexpr int32_t kEndingPicture = 2013;
constexpr int32_t kEndingTracks[2] = {0, 17};
constexpr int32_t kEndingScenario = 1;

// --- what is on the screen -------------------------------------------------------

std::string ModeName(ModeFunction f) {
    static const std::map<ModeFunction, const char*> names = {
        {GSL_BootModeCB, "boot"},          {GSL_TitleModeCB, "title"},      {GSL_StoryModeCB, "story"},
        {GSL_SysMenuModeCB, "menu"},       {GSL_SaveModeCB, "save"},        {GSL_LoadModeCB, "load"},
        {GSL_OptionModeCB, "options"},     {GSL_BacklogModeCB, "backlog"},  {GSL_GalleryModeCB, "gallery"},
        {GSL_GalleryViewModeCB, "viewer"}, {GSL_MusicRoomModeCB, "music"},  {GSL_SpecialModeCB, "special"},
        {GSL_SystemSaveModeCB, "system save"}, {GSL_ManualModeCB, "manual"}, {GSL_WorkRestoreCB, "restore"},
    };
    const auto it = names.find(f);
    return it == names.end() ? "?" : it->second;
}
// The mode stack, bottom first: "title/story/menu".
std::string Stack() {
    std::string out;
    for (int32_t i = 0; i < kModeStackSize && ModeStack[i]; ++i) out += (i ? "/" : "") + ModeName(ModeStack[i]);
    return out;
}

const auto Waiting = StoryWaiting;
bool ChoiceOpen() { return Waiting() && (MenuActiveFlag & 1u); }
// The message line complete on screen.
bool LineShown() {
    const TextRecord* t = ScreenHarness::Text(GSL_StoryModeCB, 1);
    return Waiting() && !ChoiceOpen() && t && t->text[0] && t->finished;
}
std::string Line() {
    const TextRecord* t = ScreenHarness::Text(GSL_StoryModeCB, 1);
    return t ? t->text : "";
}
uint32_t LinesRead() { return GameStateBlock.readLineCount; }
// Character pictures shown on the stage.
int CharactersShown() {
    int n = 0;
    for (int32_t i = 0; i < kSpriteSlots; ++i)
        if (Lib_SpriteIsLive(i) && SpriteTable[i].visible && std::strstr(SpriteTable[i].fileName, "chara_")) ++n;
    return n;
}

const ScreenWork* Menu() { return GSL_WorkGet(GSL_SysMenuModeCB); }
int32_t MenuCursor() {
    const ScreenWork* m = Menu();
    const SelectInputWork* in = m && m->step == MENU_STEP_RUN ? GSL_InputWork(GSL_SysMenuHead(m)->input) : nullptr;
    return in ? in->cursor : -1;
}
bool MenuUp() { return GSL_ModeTop() == GSL_SysMenuModeCB && MenuCursor() >= 0; }

int32_t ListCursor(ModeFunction screen) {
    const SaveSlotList* l = SlotListGet(GSL_WorkGet(screen));
    return l ? l->cursor : -1;
}

BacklogWork* Backlog() { return GSL_ModeTop() == GSL_BacklogModeCB ? GSL_BacklogWork() : nullptr; }
bool BacklogVoiced() {
    const BacklogWork* b = Backlog();
    // The page's voice names are those of the selection once it is drawn.
    const int32_t k = b && b->drawn == b->selected ? b->selected - b->top : -1;
    return k >= 0 && k < kBacklogPage && b->voices[k][0][0][0] != 0;
}
// A voice of the backlog's replay playing, and its file.
std::string ReplayVoice() {
    for (uint32_t j = 0; j < uint32_t(kBacklogStepVoices); ++j) {
        const uint32_t channel = kBacklogFirstVoiceSlot + j;
        if (Lib_SoundStateGet(int32_t(channel)) == SOUND_PLAYING) return SoundChannelTable[channel].st.path;
    }
    return "";
}

GalleryHead* Gallery() { return GSL_GalleryHead(GSL_WorkGet(GSL_GalleryModeCB)); }
bool GalleryMain() {
    const ScreenWork* w = GSL_WorkGet(GSL_GalleryModeCB);
    return GSL_ModeTop() == GSL_GalleryModeCB && w && !w->suspended && w->step == EXTRAS_STEP_MAIN && Gallery()->moveTask < 0;
}
bool ManualUp() {
    const ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
    return GSL_ModeTop() == GSL_ManualModeCB && w && w->step == MANUAL_STEP_MAIN;
}
// The option screen's font page up, its rows taking input.
bool FontPageUp() {
    const ScreenWork* w = GSL_WorkGet(GSL_OptionModeCB);
    return GSL_ModeTop() == GSL_OptionModeCB && w && w->step == OPTION_FONT_PAGE && w->subState == FONT_PAGE_ROWS;
}
bool Viewing() {
    const ScreenWork* w = GSL_WorkGet(GSL_GalleryViewModeCB);
    return GSL_ModeTop() == GSL_GalleryViewModeCB && w && w->step == VIEW_STEP_MAIN && w->subState == VIEW_SHOW;
}
// Whether thumbnail `thumb` of `category` holds the picture of id `id`.
bool ThumbHolds(int32_t category, int32_t thumb, int32_t id) {
    const GalleryCategory& c = GSL_GalleryGetTable()[category];
    if (thumb < 0 || thumb >= c.count) return false;
    int32_t total = 0;
    const int32_t* ids = GSL_GalleryPictureIds(&total);
    const GalleryThumb& t = c.thumbnails[thumb];
    for (int32_t k = t.firstPicture; k < t.firstPicture + t.count && k < total; ++k)
        if (k >= 0 && ids[k] == id) return true;
    return false;
}
bool CategoryHolds(int32_t category, int32_t id) {
    for (int32_t k = 0; k < GSL_GalleryGetTable()[category].count; ++k)
        if (ThumbHolds(category, k, id)) return true;
    return false;
}

// The music-room and special-scenario routes, which the sanitizer build
// leaves out, read these.
#ifndef VN_SANITIZE
MusicHead* Music() { return GSL_MusicHead(GSL_WorkGet(GSL_MusicRoomModeCB)); }
bool MusicMain() {
    const ScreenWork* w = GSL_WorkGet(GSL_MusicRoomModeCB);
    return GSL_ModeTop() == GSL_MusicRoomModeCB && w && w->step == EXTRAS_STEP_MAIN;
}
int32_t MusicRecord() {
    const MusicHead* h = Music();
    if (!h || h->page < 0 || h->page >= 3 || !MusicPageTable[h->page].entries) return -1;
    const MusicPage& p = MusicPageTable[h->page];
    return h->cursor >= 0 && h->cursor < p.count ? int32_t(p.entries[h->cursor].record) : -1;
}

// The room's page lists catalogue record `record`.
bool PageHolds(int32_t record) {
    const MusicHead* h = Music();
    if (!h || h->page < 0 || h->page >= 3 || !MusicPageTable[h->page].entries) return false;
    const MusicPage& p = MusicPageTable[h->page];
    for (int32_t i = 0; i < p.count; ++i)
        if (int32_t(p.entries[i].record) == record) return true;
    return false;
}

SpecialHead* Special() { return GSL_SpecialHead(GSL_WorkGet(GSL_SpecialModeCB)); }
bool SpecialMain() {
    const ScreenWork* w = GSL_WorkGet(GSL_SpecialModeCB);
    return GSL_ModeTop() == GSL_SpecialModeCB && w && w->step == EXTRAS_STEP_MAIN;
}
#endif

bool OptionsUp() {
    const ScreenWork* w = GSL_WorkGet(GSL_OptionModeCB);
    return GSL_ModeTop() == GSL_OptionModeCB && w && w->step == OPTION_MAIN && GSL_OptionWork() &&
           GSL_OptionWork()->wipeOrDialog < 0;
}
bool SystemSaveAsking() {
    const ScreenWork* w = GSL_WorkGet(GSL_SystemSaveModeCB);
    return GSL_ModeTop() == GSL_SystemSaveModeCB && w && w->step == SYSTEM_SAVE_STEP_WRITE && w->subState == SYSTEM_SAVE_WRITE_ANSWER;
}

// --- driving ----------------------------------------------------------------------

// Holds once `pred` has held for `frames` frames in a row.
std::function<bool()> Settled(std::function<bool()> pred, int frames) {
    auto held = std::make_shared<int>(0);
    return [=] {
        *held = pred() ? *held + 1 : 0;
        return *held >= frames;
    };
}

// The reader: confirms lines; at a choice menu takes the option the route
// names for it (Up to the first option, Down to the one wanted, confirm).
struct Reader {
    std::vector<int32_t> route;  // option of the 1st, 2nd, ... menu; 0 past its end
    int32_t menus = 0, moves = -1;
    bool inMenu = false;
    std::vector<std::string> choices;  // the taken option's text, one per menu
    void operator()(PlatInputState& in) {
        if (!ChoiceOpen()) {
            if (inMenu) ++menus;
            inMenu = false;
            moves = -1;
            in.keys[kKeyZ] = kPlatDown;
            return;
        }
        inMenu = true;
        const int32_t want = size_t(menus) < route.size() ? route[size_t(menus)] : 0;
        if (moves < 0) {
            in.keys[kKeyUp] = kPlatDown;
            moves = 0;
        } else if (moves < want) {
            in.keys[kKeyDown] = kPlatDown;
            ++moves;
        } else {
            in.keys[kKeyZ] = kPlatDown;
        }
    }
};

// A press toward `want` from `at` (none once there or while unknown).
void Toward(PlatInputState& in, int32_t at, int32_t want) {
    if (at >= 0 && at != want) in.keys[at < want ? kKeyDown : kKeyUp] = kPlatDown;
}

// The in-game menu opened from a waiting story, its cursor on `button`,
// and the button chosen.
void MenuButton(std::vector<ProgramRun::Step>& steps, int32_t button) {
    steps.push_back(Drive("the in-game menu", MenuUp, Key(kKeyC)));
    steps.push_back(Drive("the menu's cursor there", [button] { return MenuUp() && MenuCursor() == button; },
                          [button](PlatInputState& in) { Toward(in, MenuCursor(), button); },
                          120));
    steps.push_back({"the button", nullptr, Key(kKeyZ)});
    steps.push_back({"let go", nullptr, kIdle});
}


// The title's menu held still for a picture: its input paused (the run's
// next steps unpause it by moving) and the current item at its own colour.
void TitleStill() {
    SelectInputWork* m = TitleInput();
    if (m && m->cursor >= 0 && m->cursor < kTitleItems) Lib_SpriteSetColor(TitleItemSprite(m->cursor), 0xFFFFFFFFu);
}

// Frames drawn for real from now on (on), or again only when pictured: for
// the screens that keep a capture of the frame below them.
ProgramRun::Step Drawing(bool on) {
    return {on ? "frames drawn" : "frames no longer drawn", [on] {
                ScreenHarness::DrawFrames(on);
                if (on) glDisable(GL_RASTERIZER_DISCARD);
                return true;
            },
            nullptr};
}

// The in-game menu held still for a picture: the cursor's button at its own colour.
void MenuStill() {
    const int32_t c = MenuCursor();
    if (c >= 0) Lib_SpriteSetColor(GSL_WorkLayerGet(GSL_SysMenuModeCB, uint32_t(2 + c)), 0xFFFFFFFFu);
}

// --- checkpoints --------------------------------------------------------------------

struct Checkpoints {
    std::vector<std::string> stacks;           // "name: stack"
    std::vector<std::string> pictureFailures;  // "name: why"
    void Stack(const char* name) { stacks.push_back(std::string(name) + ": " + ::Stack()); }
    // Each compared screen is also a picture of docs/screens/ (named without "playthrough_").
    void Picture(const char* name) {
        const auto got = ScreenHarness::MatchesReference(name);
        if (!got) pictureFailures.push_back(std::string(name) + ": " + got.message());
        Document(("screens/" + std::string(name).substr(std::strlen("playthrough_")) + ".png").c_str());
    }
    // A picture for the README, when asked for.
    static void Document(const char* name) {
        if (!std::getenv("VN_WRITE_DOCS")) return;
        const std::filesystem::path path = std::filesystem::path(VN_SOURCE_DIR "/docs") / name;
        std::filesystem::create_directories(path.parent_path());
        ScreenHarness::WritePicture(path.string());
    }
};

}  // namespace

namespace {

// The close question, answered here: a headless run has no dialog to show.
std::atomic<int> g_closeAsked{0}, g_closeAnswer{0};
int AnswerClose(const char*, const char*) {
    ++g_closeAsked;
    return g_closeAnswer.load();
}
const WindowOps kAnsweringOps = {
    [] { return PLAT_WINDOW_NORMAL; }, Main_WindowKeysNewlyPressed, Plat_PostWindowRequest,
    [](uint32_t, uint32_t) {},         [] { return kMainPassOps.takeMessage(); }, AnswerClose,
    Plat_DisplayBounds};

// Runs every frame of the story's reading steps (set by the test).
std::function<void()> g_watch;
ProgramRun::Step Watched(ProgramRun::Step s) {
    auto until = s.until;
    s.until = [until] {
        if (g_watch) g_watch();
        return !until || until();
    };
    return s;
}

// What the settings and unlocks were when the options' run left.
struct Kept {
    uint8_t musicVolume = 0, textSpeed = 0;
    std::string unlocks;  // system variables, event, music and scenario unlocks
    std::string slotLine;
};
std::string Unlocks() {
    const SystemData& s = SystemDataBlock;
    std::string out(reinterpret_cast<const char*>(s.systemVars), sizeof s.systemVars);
    out.append(reinterpret_cast<const char*>(s.eventUnlock), sizeof s.eventUnlock);
    out.append(reinterpret_cast<const char*>(s.musicUnlock), sizeof s.musicUnlock);
    out.append(reinterpret_cast<const char*>(&s.specialUnlock), sizeof s.specialUnlock);
    return out;
}

struct Seen {
    bool movie = false, titleMusic = false;
    bool storyPage = false, documented = false;
    std::string chosen;
    uint32_t beforeAuto = 0, afterAuto = 0;
    bool autoOn = false, autoOff = false;
    uint32_t firstLines = 0, quickLines = 0, readOn = 0, afterLoad = 0, skipStop = 0;
    std::string quickLine, loadedLine;
    int confirmsInSkip = 0;
    bool skipOn = false, skipOff = false, skipHeld = false;
    bool slotSaved = false;
    std::string slotLine, replayVoice;
    bool titleAfterMenu = false;
    std::string loadedSlotLine;
    bool staffroll = false, systemSaveAsked = false, extrasOpen = false;
    std::string endingUnlocks;  // picture, the two tracks, the scenario's variable: "1111"
    bool scenarioUnlocked = false;  // as the special menu shows it
    std::string viewerPicture;
    int32_t track = -1;
    std::string trackPath;
    bool trackStopped = false;
    bool special = false, specialBack = false;
    int32_t musicBefore = -1, musicAfter = -1, speedBefore = -1, speedAfter = -1;
    float channelBefore = -1, channelInOptions = -1, channelAfter = -1;
    int closeNoAsked = 0;
    bool stillUpAfterNo = false;
    int logos = 0, rollFrames = 0;  // for the docs' pictures
    bool logoHeld = false;
};

// A step that holds after `frames` frames, writing the docs' picture `name` then.
ProgramRun::Step DocumentAfter(const char* name, int frames = 20) {
    return {name, [name, frames, n = 0]() mutable {
                if (++n < frames) return false;
                Checkpoints::Document(name);
                return true;
            },
            nullptr};
}

// The program's language switched to Japanese, as the font page's list does.
void Japanese() {
    SystemDataBlock.language = 0;
    FontUserFace[0] = 0;
    SystemDataBlock.fontName[0] = 0;
    GSL_ConfigApply(false);
}

int32_t OptionCursor() { return GSL_OptionWork() ? GSL_OptionWork()->cursor : -1; }

// --- the user files a route leaves ------------------------------------------------

// A route that others start from leaves, under the build folder, the user
// files (user/) the program wrote and notes on what it saw and left. Each
// route is a test of its own; one run alone first plays the route before it
// when that route's files are missing or older than this test program.
namespace fs = std::filesystem;
using Notes = std::map<std::string, std::string>;

fs::path RouteFiles(const char* route) { return fs::path(VN_BINARY_DIR) / "playthrough" / route; }

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}
std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// One "key hex-value" line per note.
Notes ReadNotes(const fs::path& folder) {
    Notes notes;
    std::ifstream in(folder / "notes.txt");
    std::string key, value;
    while (in >> key >> value) notes[key] = Unhex(value == "-" ? "" : value);
    return notes;
}

bool Fresh(const fs::path& folder) {
    std::error_code ec;
    const auto made = fs::last_write_time(folder / "notes.txt", ec);
    if (ec) return false;
    const auto program = fs::last_write_time("/proc/self/exe", ec);
    return !ec && made >= program;
}

// The folder a route left, played first when it is not there or stale.
fs::path Prepared(const char* route, void (*play)()) {
    if (!Fresh(RouteFiles(route))) play();
    return RouteFiles(route);
}

// A run that starts from the user files a route left.
void StartFrom(ProgramRun& run, const fs::path& folder) {
    run.before = [folder] { fs::copy(folder / "user", "user", fs::copy_options::recursive); };
}

// Plays `steps` in a run that starts from the user files in `folder`: the
// program ends cleanly and every step holds.
void RunFrom(const fs::path& folder, std::vector<ProgramRun::Step> steps) {
    ProgramRun run;
    StartFrom(run, folder);
    EXPECT_EQ(run.Run(std::move(steps)), 0);
    EXPECT_EQ(run.failed, "");
}

// Keeps the run's user files (copied by `after`) and the notes for the routes
// that start from them, once the route passed; a failed route leaves nothing.
struct Leaving {
    explicit Leaving(const char* route) : folder(RouteFiles(route)), staged(folder.string() + ".new") {
        fs::remove_all(staged);
    }
    void Take(ProgramRun& run) {
        run.after = [this] {
            fs::create_directories(staged);
            if (fs::exists("user")) fs::copy("user", staged / "user", fs::copy_options::recursive);
        };
    }
    void Keep(const Notes& notes) {
        fs::remove_all(folder);
        if (::testing::Test::HasFailure()) {
            fs::remove_all(staged);
            return;
        }
        {
            std::ofstream out(staged / "notes.txt");
            for (const auto& [key, value] : notes) out << key << ' ' << (value.empty() ? "-" : Hex(value)) << '\n';
        }
        fs::rename(staged, folder);
    }
    fs::path folder, staged;
};

// The mode stacks and picture failures of a route, the stacks as expected.
void CheckRoute(const Checkpoints& check, const std::vector<std::string>& stacks) {
    EXPECT_EQ(check.stacks, stacks);
    EXPECT_EQ(check.pictureFailures, std::vector<std::string>{});
}

// The load list's cursor on the third slot, the load confirmed; with
// `picture`, the list is written to the docs first.
void LoadThirdSlot(std::vector<ProgramRun::Step>& steps, const char* picture = nullptr) {
    Choose(steps, TITLE_ITEM_LOAD);
    steps.push_back(Drive("the load list at the third slot",
                          [] { return ListUp(GSL_LoadModeCB) && ListCursor(GSL_LoadModeCB) == kSlot; },
                          [](PlatInputState& in) {
                              if (ListUp(GSL_LoadModeCB)) Toward(in, ListCursor(GSL_LoadModeCB), kSlot);
                          }));
    if (picture) {
        // The slot's details (C) pictured over the list, and closed (X).
        steps.push_back(DocumentAfter(picture, 1));
        const auto details = [] {
            const ScreenWork* w = GSL_WorkGet(GSL_LoadModeCB);
            return w && w->step == SLOT_STEP_MAIN && w->subState == SLOT_MAIN_DETAIL;
        };
        steps.push_back(Drive("the slot's details", details, Key(kKeyC), 120));
        steps.push_back(DocumentAfter("screens/slot_details.png"));
        steps.push_back(Drive("the load list again", [] { return ListUp(GSL_LoadModeCB); }, Key(kKeyX), 120));
    }
    steps.push_back({"load", nullptr, Key(kKeyZ)});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the load question", [] { return Asking(GSL_LoadModeCB); }, Key(kKeyZ)});
    steps.push_back({"let go", nullptr, kIdle});
}

// The story page (two characters on the stage) pictured, and the README's
// page (the library with its three keepers), wherever the reading meets them.
void WatchTheStoryPage(Seen& seen, Checkpoints& check) {
    g_watch = [&] {
        if (!LineShown()) return;
        if (!seen.storyPage && CharactersShown() >= 2) {
            seen.storyPage = true;
            check.Stack("story page");
            check.Picture("playthrough_story");
        }
        if (!seen.documented && CharactersShown() >= 3) {
            seen.documented = true;
            Checkpoints::Document("story.png");
        }
    };
}

// --- the routes ---------------------------------------------------------------------

// The logos and the opening movie, the title, a new game read with clicks,
// a quick save, lines read again after a quick load and skipped, a choice, a
// page in auto mode, a save to the third slot, the backlog with a voice
// replayed, back to the title. Leaves "slot".
void PlayANewGame() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Seen seen;
    Checkpoints check;
    Leaving leaving("slot");
    Reader reader;
    reader.route = kRoute;

    std::vector<ProgramRun::Step> steps;
    ToTitleMenu(steps);
    for (ProgramRun::Step& s : steps) {
        auto until = s.until;
        s.until = [until, &seen] {
            if (MoviePlaying() && MovieState.load() == MOVIE_PLAYING) seen.movie = true;
            if (LogoHeld() && !seen.logoHeld)
                Checkpoints::Document(("screens/logo_" + std::to_string(++seen.logos) + ".png").c_str());
            seen.logoHeld = LogoHeld();
            return !until || until();
        };
    }
    steps.push_back({"the title with its music",
                     [&] {
                         if (!TitleMenuUp() || Lib_SoundStateGet(0) != SOUND_PLAYING) return false;
                         seen.titleMusic = true;
                         TitleStill();
                         check.Stack("title");
                         check.Picture("playthrough_title");
                         Checkpoints::Document("title.png");
                         return true;
                     },
                     nullptr, 300});
    Choose(steps, TITLE_ITEM_MANUAL);  // pictured
    steps.push_back(Drive("the manual", ManualUp, nullptr, 300));
    steps.push_back(DocumentAfter("screens/manual.png", 120));
    steps.push_back(Drive("the title after the manual", TitleMenuUp, Key(kKeyX), 300));
    Choose(steps, TITLE_ITEM_NEW_GAME);

    steps.push_back(Drive("the story's first line", LineShown, nullptr, 900));
    steps.push_back({"the story", [&] {
                         check.Stack("story");
                         check.Picture("playthrough_first_line");
                         seen.firstLines = LinesRead();
                         return true;
                     },
                     nullptr});
    steps.push_back(Drive("the second line", [&] { return LinesRead() > seen.firstLines && LineShown(); }, Key(kKeyZ)));
    if (!kShort) {
    // A quick save from the in-game menu; two lines read on; the quick load
    // brings the saved line back, and skip passes the two read lines.
    const auto cutVoice = [](PlatInputState& in) {
        if (GSL_ModeTop() == GSL_SysMenuModeCB) in.keys[kKeyZ] = kPlatDown;
    };
    steps.push_back({"the line quick-saved", [&] {
                         seen.quickLines = LinesRead();
                         seen.quickLine = Line();
                         return true;
                     },
                     nullptr});
    MenuButton(steps, MENU_BUTTON_QUICK_SAVE);
    steps.push_back(Worker(Drive("back in the story after the quick save",
                                 [] { return QuickDataPresent && !Menu() && SaveQuickGDGuard == -1 && LineShown(); },
                                 cutVoice)));
    steps.push_back(Watched(Drive("two lines on",
                                  [&] {
                                      seen.readOn = LinesRead();
                                      return seen.readOn >= seen.quickLines + 2 && LineShown();
                                  },
                                  [&](PlatInputState& in) { reader(in); })));
    steps.push_back(Drive("the in-game menu", MenuUp, Key(kKeyC)));
    steps.push_back(Drive("the quick load's preview", [] { return MenuUp() && MenuCursor() == MENU_BUTTON_QUICK_LOAD && ShowQuickGDState() == QUICK_PANEL_SHOWN; },
                          [](PlatInputState& in) { Toward(in, MenuCursor(), MENU_BUTTON_QUICK_LOAD); },
                          120));
    steps.push_back({"quick load", nullptr, Key(kKeyZ)});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back(Drive("the quick-saved line again",
                          [&] {
                              seen.afterLoad = LinesRead();
                              seen.loadedLine = Line();
                              return !Menu() && StoryExitRequest == STORY_EXIT_NONE && LineShown() && seen.afterLoad <= seen.quickLines;
                          },
                          cutVoice, 1200));
    steps.push_back(Drive("skip on", [&] { return seen.skipOn = StoryPlayMode == PLAY_SKIP; },
                          [](PlatInputState& in) { Press(in, kSkipBit); }, 60));
    steps.push_back({"skip held at the first line not read",
                     [&, still = 0, last = 0u]() mutable {
                         const uint32_t n = LinesRead();
                         still = n == last && LineShown() ? still + 1 : 0;
                         last = n;
                         seen.skipStop = n;
                         return still > 30;
                     },
                     nullptr, 1200});
    steps.push_back(Drive("skip off", [&] {
                              seen.skipHeld = seen.skipHeld || (StoryPlayMode == PLAY_SKIP && LineShown());
                              return seen.skipOff = StoryPlayMode == 0;
                          },
                          [](PlatInputState& in) { Press(in, kSkipBit); }, 60));

    }
    // Reading: clicks up to the first choice, which is pictured once its
    // buttons are in, and taken.
    WatchTheStoryPage(seen, check);
    steps.push_back(Watched(Drive("the first choice", ChoiceOpen, [&](PlatInputState& in) { reader(in); }, 3000)));
    steps.push_back(Watched({"the choice's buttons in", [frames = 0]() mutable { return ++frames > 40; }, nullptr}));
    steps.push_back({"the choice", [&] {
                         check.Stack("choice");
                         check.Picture("playthrough_choice");
                         return true;
                     },
                     nullptr});
    steps.push_back(Watched(Drive("the choice taken and the next line",
                                  [&] { return reader.menus >= 1 && LineShown(); },
                                  [&](PlatInputState& in) { reader(in); })));
    // Auto mode for a page.
    steps.push_back(Watched(Drive("auto on",
                                  [&] {
                                      seen.beforeAuto = LinesRead();
                                      return seen.autoOn = (StoryPlayMode & PLAY_AUTO) != 0;
                                  },
                                  [](PlatInputState& in) { Press(in, kAutoBit); }, 60)));
    steps.push_back(Watched({"the next page by itself",
                             [&] {
                                 seen.afterAuto = LinesRead();
                                 return seen.afterAuto > seen.beforeAuto && LineShown();
                             },
                             nullptr, 1200}));
    steps.push_back(Watched(Drive("auto off", [&] { return seen.autoOff = StoryPlayMode == 0; },
                                  [](PlatInputState& in) { Press(in, kAutoBit); }, 60)));
    steps.push_back(Watched(Drive("a line to save on", LineShown, nullptr, 1200)));

    // The in-game menu; a save to the third slot.
    steps.push_back(Drawing(true));
    steps.push_back(Drive("the in-game menu", MenuUp, Key(kKeyC)));
    steps.push_back({"the menu", [&] {
                         MenuStill();
                         check.Stack("in-game menu");
                         check.Picture("playthrough_menu");
                         return true;
                     },
                     nullptr});
    steps.push_back(Drawing(false));
    steps.push_back(Drive("the save button", [] { return MenuUp() && MenuCursor() == MENU_BUTTON_SAVE; },
                          [](PlatInputState& in) { Toward(in, MenuCursor(), MENU_BUTTON_SAVE); },
                          120));
    steps.push_back({"save", nullptr, Key(kKeyZ)});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back(Drive("the save list at the third slot",
                          [] { return ListUp(GSL_SaveModeCB) && ListCursor(GSL_SaveModeCB) == kSlot; },
                          [](PlatInputState& in) {
                              if (ListUp(GSL_SaveModeCB)) Toward(in, ListCursor(GSL_SaveModeCB), kSlot);
                          }));
    steps.push_back({"the save list", [&] {
                         check.Stack("save list");
                         Checkpoints::Document("screens/save.png");
                         return true;
                     },
                     Key(kKeyZ)});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the save question", [] {
                         if (!Asking(GSL_SaveModeCB)) return false;
                         Checkpoints::Document("screens/question.png");
                         return true;
                     },
                     Key(kKeyZ)});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back(Worker({"the story after the save",
                            [&] {
                                if (!LineShown() || Menu()) return false;
                                seen.slotSaved = Lib_SaveSlotCheck(kSlot, nullptr) == 0;
                                seen.slotLine = Line();
                                return true;
                            },
                            kIdle}));

    // The backlog: up to a voiced line, its voice replayed.
    steps.push_back(Drawing(true));
    steps.push_back(Drive("the backlog", [] { return Backlog() && GSL_WorkGet(GSL_BacklogModeCB)->step == BACKLOG_RUN; },
                          [](PlatInputState& in) { Press(in, 0x4); }));
    steps.push_back(Drive("a voiced line", Settled(BacklogVoiced, 6), [](PlatInputState& in) {
                              if (!BacklogVoiced()) in.keys[kKeyUp] = kPlatDown;
                          },
                          600, 6));
    steps.push_back({"the backlog", [&] {
                         check.Stack("backlog");
                         check.Picture("playthrough_backlog");
                         return true;
                     },
                     Key(kKeyZ)});
    // The replayed line's voice icon lit, for the docs.
    steps.push_back({"the replay's lit icon", [] {
                         const BacklogWork* b = Backlog();
                         if (!b || b->replayEntry < 0 || b->blink < 12) return false;
                         Checkpoints::Document("screens/backlog_voice.png");
                         return true;
                     },
                     kIdle, 120});
    steps.push_back(Drawing(false));
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the line's voice again", [&] { return !(seen.replayVoice = ReplayVoice()).empty(); }, nullptr, 120});
    steps.push_back(Drive("the story again", [] { return !Backlog() && LineShown(); }, Key(kKeyX), 300));

    // Back to the title from the in-game menu, with its question.
    MenuButton(steps, MENU_BUTTON_TITLE);
    steps.push_back(Drive("the title after the question",
                          [&] { return seen.titleAfterMenu = TitleMenuUp() && GSL_ModeCount() == 1; },
                          [](PlatInputState& in) {
                              if (GSL_ModeTop() == GSL_SysMenuModeCB || SystemSaveAsking()) in.keys[kKeyZ] = kPlatDown;
                          },
                          900));

    ProgramRun run;
    leaving.Take(run);
    const int code = run.Run(steps);
    g_watch = nullptr;

    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(seen.movie);
    EXPECT_TRUE(seen.titleMusic);
    EXPECT_TRUE(seen.autoOn);
    EXPECT_GT(seen.afterAuto, seen.beforeAuto);
    EXPECT_TRUE(seen.autoOff);
    if (!kShort) {
    EXPECT_EQ(seen.loadedLine, seen.quickLine);
    EXPECT_TRUE(seen.skipOn);
    EXPECT_GE(seen.skipStop, seen.readOn);  // the read lines passed without a confirm
    EXPECT_TRUE(seen.skipHeld);
    EXPECT_TRUE(seen.skipOff);
    }
    EXPECT_TRUE(seen.slotSaved);
    EXPECT_NE(seen.replayVoice.find("voice"), std::string::npos) << seen.replayVoice;
    EXPECT_TRUE(seen.titleAfterMenu);
    EXPECT_FALSE(seen.slotLine.empty());
    CheckRoute(check, {"title: title", "story: title/story", "choice: title/story", "in-game menu: title/story/menu",
                       "save list: title/story/menu/save", "backlog: title/story/backlog"});
    leaving.Keep({{"slot_line", seen.slotLine},
                  {"menus", std::to_string(reader.menus)},
                  {"story_page", seen.storyPage ? "1" : ""},
                  {"documented", seen.documented ? "1" : ""}});
}

// The third slot loaded and read on to an ending: its staff roll, the
// question whether to keep the system data, the title with the extras the
// ending unlocked (a picture, two tracks, a special scenario). Leaves "ending".
void PlayToAnEnding() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    const fs::path from = Prepared("slot", PlayANewGame);
    ASSERT_TRUE(Fresh(from)) << "a new game left no saved slot";
    Notes notes = ReadNotes(from);
    Seen seen;
    seen.storyPage = !notes["story_page"].empty();
    seen.documented = !notes["documented"].empty();
    Checkpoints check;
    Leaving leaving("ending");
    Reader reader;
    reader.route = kRoute;
    reader.menus = std::stoi(notes["menus"]);
    WatchTheStoryPage(seen, check);

    std::vector<ProgramRun::Step> steps;
    ToTitleMenu(steps);
    LoadThirdSlot(steps, "screens/load.png");
    steps.push_back({"the saved line loaded",
                     [&] {
                         if (!LineShown()) return false;
                         seen.loadedSlotLine = Line();
                         check.Stack("loaded");
                         check.Picture("playthrough_loaded");
                         return true;
                     },
                     kIdle, 1500});
    steps.push_back(Watched(Drive("an ending, its staff roll and the title",
                          [&] {
                              if (GSL_StaffrollIsActive() && !seen.staffroll) {
                                  seen.staffroll = true;
                                  check.Stack("staff roll");
                              }
                              // Halfway through the roll, left to run that long.
                              if (GSL_StaffrollIsActive() && ++seen.rollFrames == 600)
                                  Checkpoints::Document("screens/staffroll.png");
                              if (SystemSaveAsking()) seen.systemSaveAsked = true;
                              return seen.systemSaveAsked && TitleMenuUp() && GSL_ModeCount() == 1;
                          },
                          [&](PlatInputState& in) {
                              if (SystemSaveAsking()) in.keys[kKeyZ] = kPlatDown;
                              else if (GSL_ModeTop() == GSL_StoryModeCB &&
                                       !(GSL_StaffrollIsActive() && seen.rollFrames < 600))
                                  reader(in);
                          },
                          6000)));
    steps.push_back({"the title with the extras", [&] {
                         seen.extrasOpen = GSL_TitleIsItemVisible(TITLE_ITEM_EXTRAS);
                         seen.endingUnlocks = std::to_string(StoryAccessFlagGal(nullptr, kEndingPicture, 0)) +
                                              std::to_string(GSL_MusicIsOpen(kEndingTracks[0])) +
                                              std::to_string(GSL_MusicIsOpen(kEndingTracks[1])) +
                                              std::to_string(GSL_VarRefEval("[0001]") != 0);
                         TitleStill();
                         check.Stack("title after the ending");
                         // (The short run has no quick save: no continue item.)
                         if (!kShort) check.Picture("playthrough_title_extras");
                         return true;
                     },
                     nullptr});

    ProgramRun run;
    StartFrom(run, from);
    leaving.Take(run);
    const int code = run.Run(steps);
    g_watch = nullptr;

    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_EQ(seen.loadedSlotLine, notes["slot_line"]);
    EXPECT_TRUE(seen.storyPage);
    EXPECT_TRUE(seen.staffroll);
    EXPECT_TRUE(seen.systemSaveAsked);
    EXPECT_TRUE(seen.extrasOpen);
    EXPECT_EQ(seen.endingUnlocks, "1111");
    CheckRoute(check, {"loaded: title/story", "story page: title/story", "staff roll: title/story",
                       "title after the ending: title"});
    leaving.Keep(notes);
}

// The options: the music quieter, the text faster; the music's channel
// follows at once, the text on the next run. Then a close, answered no
// (the game goes on), then yes. Leaves "options".
void PlayTheOptions() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    const fs::path from = Prepared("ending", PlayToAnEnding);
    ASSERT_TRUE(Fresh(from)) << "no ending was reached";
    Notes notes = ReadNotes(from);
    Seen seen;
    Kept kept;
    Checkpoints check;
    Leaving leaving("options");

    std::vector<ProgramRun::Step> steps;
    ToTitleMenu(steps);
    // The options: the music quieter, the text faster; the music's channel
    // follows at once, the text on the next run.
    Choose(steps, TITLE_ITEM_OPTIONS);
    steps.push_back(Drive("the options", OptionsUp, nullptr));
    steps.push_back(Drive("the music volume item", [] { return OptionsUp() && OptionCursor() == kOptionMusic; },
                          [](PlatInputState& in) { Toward(in, OptionCursor(), kOptionMusic); },
                          120));
    steps.push_back({"the volume before", [&] {
                         seen.musicBefore = SystemDataBlock.musicVolume;
                         seen.channelBefore = SoundChannelTable[0].st.volume.load();
                         return true;
                     },
                     nullptr});
    steps.push_back(Drive("the music quieter", [&] { return SystemDataBlock.musicVolume <= seen.musicBefore - 20; },
                          Key(kKeyLeft), 240, 4));
    steps.push_back(Drive("the text speed item", [] { return OptionsUp() && OptionCursor() == kOptionTextSpeed; },
                          [](PlatInputState& in) { Toward(in, OptionCursor(), kOptionTextSpeed); },
                          120));
    steps.push_back({"the speed before", [&] {
                         seen.speedBefore = SystemDataBlock.textSpeed;
                         return true;
                     },
                     nullptr});
    steps.push_back(Drive("the text faster",
                          [&] { return SystemDataBlock.textSpeed >= std::min(seen.speedBefore + 10, 100) &&
                                       SystemDataBlock.textSpeed != seen.speedBefore; },
                          [&](PlatInputState& in) { in.keys[seen.speedBefore < 100 ? kKeyRight : kKeyLeft] = kPlatDown; },
                          120));
    steps.push_back({"the options changed", [&] {
                         seen.musicAfter = SystemDataBlock.musicVolume;
                         seen.speedAfter = SystemDataBlock.textSpeed;
                         seen.channelInOptions = SoundChannelTable[0].st.volume.load();
                         check.Stack("options");
                         check.Picture("playthrough_options");
                         return true;
                     },
                     nullptr});
    steps.push_back(Drawing(true));  // the font page keeps a capture of the list
    steps.push_back(Drive("the font page", FontPageUp, [](PlatInputState& in) { Press(in, 0x8); }, 300));
    steps.push_back(DocumentAfter("screens/font_page.png"));
    steps.push_back(Drawing(false));
    steps.push_back(Drive("the title after the options, the settings kept",
                          [] { return TitleMenuUp() && GSL_ModeCount() == 1; },
                          [](PlatInputState& in) { in.keys[SystemSaveAsking() ? kKeyZ : kKeyX] = kPlatDown; }, 600));
    steps.push_back({"what the next run must find", [&] {
                         seen.channelAfter = SoundChannelTable[0].st.volume.load();
                         kept.musicVolume = SystemDataBlock.musicVolume;
                         kept.textSpeed = SystemDataBlock.textSpeed;
                         kept.unlocks = Unlocks();
                         return true;
                     },
                     nullptr});

    // The close: no first (the game goes on), then yes.
    steps.push_back({"close, answered no", [] {
                         g_closeAnswer = 0;
                         return Plat_PostWindowRequest(WINDOW_REQ_CLOSE);
                     },
                     nullptr});
    steps.push_back({"the game after the no",
                     [&, frames = 0]() mutable {
                         if (g_closeAsked.load() < 1) return false;
                         seen.closeNoAsked = g_closeAsked.load();
                         seen.stillUpAfterNo = TitleMenuUp();
                         return ++frames > 10;
                     },
                     nullptr, 300});
    steps.push_back({"close, answered yes", [] {
                         g_closeAnswer = 1;
                         return Plat_PostWindowRequest(WINDOW_REQ_CLOSE);
                     },
                     nullptr});
    steps.push_back({"the window closing", [] { return false; }, nullptr, 600});

    ProgramRun run;
    run.lastStepCloses = true;
    StartFrom(run, from);
    leaving.Take(run);
    g_closeAsked = 0;
    Main_WindowOpsSet(&kAnsweringOps);
    const int code = run.Run(steps);
    Main_WindowOpsSet(nullptr);

    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_EQ(seen.musicAfter, seen.musicBefore - 20);
    EXPECT_NE(seen.speedAfter, seen.speedBefore);
    // The title's music follows at once, and stays quieter on the title.
    EXPECT_EQ(seen.channelInOptions, float(seen.musicAfter));
    EXPECT_LT(seen.channelAfter, seen.channelBefore);
    EXPECT_EQ(seen.closeNoAsked, 1);
    EXPECT_TRUE(seen.stillUpAfterNo);
    EXPECT_EQ(g_closeAsked.load(), 2);
    CheckRoute(check, {"options: title/options"});
    notes["music"] = std::to_string(kept.musicVolume);
    notes["speed"] = std::to_string(kept.textSpeed);
    notes["unlocks"] = kept.unlocks;
    leaving.Keep(notes);
}

}  // namespace

TEST(PlaythroughProgram, ANewGameIsReadAndSavedToTheThirdSlot) { PlayANewGame(); }

TEST(PlaythroughProgram, TheThirdSlotIsReadOnToAnEndingThatOpensTheExtras) { PlayToAnEnding(); }

// The end of an extra's route: cancelled back to the title's menu, and the
// whole route played from the user files in `folder`.
void EndAtTheTitle(const fs::path& folder, std::vector<ProgramRun::Step>& steps, const char* label) {
    steps.push_back(Drive(label, TitleMenuUp, Key(kKeyX), 300));
    RunFrom(folder, steps);
}

// The start of a route from the user files an ending left: the title's
// extras open and `item` chosen. Returns the folder of those files.
fs::path ToAnExtra(std::vector<ProgramRun::Step>& steps, int item) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    const fs::path from = Prepared("ending", PlayToAnEnding);
    ToTitleMenu(steps);
    Choose(steps, TITLE_ITEM_EXTRAS);
    Choose(steps, item);
    return from;
}

// The gallery: the ending's picture in the viewer.
TEST(PlaythroughProgram, TheEndingsPictureOpensInTheGalleryViewer) {
    std::vector<ProgramRun::Step> steps;
    const fs::path from = ToAnExtra(steps, TITLE_ITEM_GALLERY);
    ASSERT_TRUE(Fresh(from)) << "no ending was reached";
    Seen seen;
    Checkpoints check;
    steps.push_back(Drive("the gallery", GalleryMain, nullptr));
    // The docs' gallery: the page with the ending's thumbnail chosen.
    steps.push_back(Drive("the ending's thumbnail",
                          [] {
                              const GalleryHead* h = Gallery();
                              return GalleryMain() && ThumbHolds(h->category, h->selection, kEndingPicture);
                          },
                          [](PlatInputState& in) {
                              const GalleryHead* h = Gallery();
                              if (!GalleryMain()) return;
                              in.keys[CategoryHolds(h->category, kEndingPicture) ? kKeyRight : kKeyD] = kPlatDown;
                          },
                          600, 6));
    steps.push_back(DocumentAfter("screens/gallery.png"));
    steps.push_back(Drive("the ending's picture in the viewer", Viewing,
                          [](PlatInputState& in) {
                              const GalleryHead* h = Gallery();
                              if (!GalleryMain()) return;
                              if (!CategoryHolds(h->category, kEndingPicture)) in.keys[kKeyD] = kPlatDown;
                              else if (!ThumbHolds(h->category, h->selection, kEndingPicture)) in.keys[kKeyRight] = kPlatDown;
                              else in.keys[kKeyZ] = kPlatDown;
                          },
                          600, 6));
    steps.push_back({"the picture faded in", [&] {
                         const GalleryViewHead* v = GSL_GalleryViewHead(GSL_WorkGet(GSL_GalleryViewModeCB));
                         if (!Viewing() || !v || v->alpha < 255) return false;
                         const int32_t s = GSL_WorkLayerGet(GSL_GalleryViewModeCB, uint32_t(v->layer));
                         if (Lib_SpriteIsLive(s)) seen.viewerPicture = SpriteTable[s].fileName;
                         check.Stack("viewer");
                         check.Picture("playthrough_viewer");
                         return true;
                     },
                     nullptr, 300});
    steps.push_back(Drive("the gallery again", GalleryMain, Key(kKeyX), 300));
    EndAtTheTitle(from, steps, "the title after the gallery");
    EXPECT_NE(seen.viewerPicture.find("event_sefa"), std::string::npos) << seen.viewerPicture;
    CheckRoute(check, {"viewer: title/gallery/viewer"});
}

// The sanitizer build leaves out the music room and the special scenario:
// its frames cost several times more.
#ifndef VN_SANITIZE
// The music room: the ending's track played, then stopped.
TEST(PlaythroughProgram, TheEndingsTrackPlaysInTheMusicRoom) {
    std::vector<ProgramRun::Step> steps;
    const fs::path from = ToAnExtra(steps, TITLE_ITEM_MUSIC_ROOM);
    ASSERT_TRUE(Fresh(from)) << "no ending was reached";
    Seen seen;
    Checkpoints check;
    steps.push_back(Drive("the music room", MusicMain, nullptr));
    steps.push_back({"the music room's list", [&] {
                         check.Picture("playthrough_music_room");
                         return true;
                     },
                     nullptr});
    steps.push_back(Drive("the ending's track playing",
                          [&] {
                              if (!MusicMain() || Music()->playing < 0 || Lib_SoundStateGet(0) != SOUND_PLAYING) return false;
                              seen.track = Music()->playing;
                              seen.trackPath = SoundChannelTable[0].st.path;
                              check.Stack("music room");
                              return true;
                          },
                          [](PlatInputState& in) {
                              if (!MusicMain() || Music()->playing >= 0) return;
                              if (!PageHolds(kEndingTracks[0])) Press(in, kPageNextBit);
                              else in.keys[MusicRecord() == kEndingTracks[0] ? kKeyZ : kKeyRight] = kPlatDown;
                          },
                          900, 6));
    steps.push_back(DocumentAfter("screens/music_room_playing.png", 40));
    steps.push_back(Drive("the track stopped",
                          [&] { return seen.trackStopped = Music()->playing == -1 && Lib_SoundStateGet(0) == 0; },
                          [](PlatInputState& in) {
                              if (Music()->playing >= 0 && MusicRecord() == Music()->playing) in.keys[kKeyZ] = kPlatDown;
                          },
                          900));
    EndAtTheTitle(from, steps, "the title after the music room");
    EXPECT_EQ(seen.track, kEndingTracks[0]);
    EXPECT_FALSE(seen.trackPath.empty());
    EXPECT_TRUE(seen.trackStopped);
    CheckRoute(check, {"music room: title/music"});
}

// The special-scenario menu: the ending's scenario, read to its end.
TEST(PlaythroughProgram, TheEndingsSpecialScenarioIsReadToItsEnd) {
    std::vector<ProgramRun::Step> steps;
    const fs::path from = ToAnExtra(steps, TITLE_ITEM_SPECIAL);
    ASSERT_TRUE(Fresh(from)) << "no ending was reached";
    Seen seen;
    Checkpoints check;
    steps.push_back(Drive("the special menu", SpecialMain, nullptr));
    steps.push_back({"the special menu's grid", [&] {
                         seen.scenarioUnlocked = GSL_SpecialIsUnlocked(kEndingScenario);
                         check.Stack("special menu");
                         check.Picture("playthrough_special");
                         return true;
                     },
                     nullptr});
    steps.push_back(Drive("the ending's special scenario on the story screen",
                          [&] {
                              const char* file = GSL_ModeTop() == GSL_StoryModeCB
                                                     ? GSL_ScriptTaskFileName(GSL_WorkTaskGet(GSL_StoryModeCB))
                                                     : nullptr;
                              return seen.special = file && std::string(file) == "special.txt";
                          },
                          [](PlatInputState& in) {
                              if (!SpecialMain()) return;
                              in.keys[Special()->selected == kEndingScenario ? kKeyZ : kKeyRight] = kPlatDown;
                          },
                          900, 6));
    steps.push_back(Drive("the special menu after the scenario",
                          [&] { return seen.specialBack = SpecialMain() && SpecialScenarioFlag == 0; },
                          [&](PlatInputState& in) {
                              if (GSL_ModeTop() == GSL_StoryModeCB) in.keys[kKeyZ] = kPlatDown;
                          },
                          1800));
    EndAtTheTitle(from, steps, "the title after the special menu");
    EXPECT_TRUE(seen.scenarioUnlocked);
    EXPECT_TRUE(seen.special);
    EXPECT_TRUE(seen.specialBack);
    CheckRoute(check, {"special menu: title/special"});
}
#endif

TEST(PlaythroughProgram, TheOptionsChangedAreKeptAndTheCloseIsAsked) { PlayTheOptions(); }

// A run on the user files the options' run left: the slot loads, the
// unlocks and settings are there.
TEST(PlaythroughProgram, TheNextRunFindsTheSlotTheUnlocksAndTheSettings) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    const fs::path from = Prepared("options", PlayTheOptions);
    ASSERT_TRUE(Fresh(from)) << "the options' run left no user files";
    Notes notes = ReadNotes(from);
    Kept kept;
    kept.musicVolume = uint8_t(std::stoi(notes["music"]));
    kept.textSpeed = uint8_t(std::stoi(notes["speed"]));
    kept.unlocks = notes["unlocks"];
    kept.slotLine = notes["slot_line"];
    struct Again {
        uint8_t musicVolume = 0, textSpeed = 0;
        float channel = -1;
        std::string unlocks, line;
        int32_t speed = -2, cursor = -1;
        uint32_t lines = 0;
        bool extras = false;
    } again;
    std::vector<ProgramRun::Step> resume;
    ToTitleMenu(resume);
    resume.push_back({"the title as it was left",
                      [&] {
                          if (!TitleMenuUp() || Lib_SoundStateGet(0) != SOUND_PLAYING) return false;
                          again.musicVolume = SystemDataBlock.musicVolume;
                          again.textSpeed = SystemDataBlock.textSpeed;
                          again.channel = SoundChannelTable[0].st.volume.load();
                          again.unlocks = Unlocks();
                          again.extras = GSL_TitleIsItemVisible(TITLE_ITEM_EXTRAS);
                          again.cursor = TitleInput()->cursor;
                          return true;
                      },
                      nullptr, 300});
    LoadThirdSlot(resume);
    resume.push_back({"the saved line",
                      [&] {
                          if (!LineShown()) return false;
                          again.line = Line();
                          again.lines = LinesRead();
                          return true;
                      },
                      kIdle, 1500});
    // The next line reveals at the speed the options left.
    resume.push_back({"a confirm", nullptr, Key(kKeyZ)});
    resume.push_back({"let go", nullptr, kIdle});
    resume.push_back({"the next line revealing",
                      [&] {
                          const TextRecord* t = ScreenHarness::Text(GSL_StoryModeCB, 1);
                          if (LinesRead() <= again.lines || !t || !t->text[0] || t->finished) return false;
                          again.speed = t->speed;
                          return true;
                      },
                      nullptr, 300});
    RunFrom(from, resume);
    // The docs' Japanese title and story page: the same slot loaded in Japanese.
    if (std::getenv("VN_WRITE_DOCS")) {
        std::vector<ProgramRun::Step> japanese;
        ToTitleMenu(japanese, Japanese);
        japanese.push_back(Drive("the Japanese fonts", GSL_ConfigFontWait, nullptr, 300));
        japanese.push_back({"the Japanese title", [] {
                                TitleStill();
                                Checkpoints::Document("screens/title_ja.png");
                                return true;
                            },
                            nullptr});
        LoadThirdSlot(japanese);
        japanese.push_back(Drive("the saved line in Japanese", LineShown, nullptr, 1500));
        japanese.push_back(DocumentAfter("screens/story_ja.png", 30));
        RunFrom(from, japanese);
    }
    EXPECT_EQ(again.musicVolume, kept.musicVolume);
    EXPECT_EQ(again.textSpeed, kept.textSpeed);
    EXPECT_EQ(again.channel, float(kept.musicVolume));
    EXPECT_TRUE(again.unlocks == kept.unlocks);
    EXPECT_TRUE(again.extras);
    EXPECT_EQ(again.cursor, TITLE_ITEM_LOAD);  // a valid slot puts the cursor on load
    EXPECT_EQ(again.line, kept.slotLine);
    EXPECT_EQ(again.speed, (100 - int32_t(kept.textSpeed) + 3) / 4);
}
