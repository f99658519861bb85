#include "story/quick_save.h"

uint8_t QuickDataPresent = 0;
GameState QuickDataCache{};
int32_t SaveQuickGDGuard = -1;
int32_t ShowQuickGDTask = -1;

// Until the quick save exists: nothing to load or write, no panel.
void SaveQuickGDSet(uint32_t) {}
void ShowQuickGDSet(float, float, int32_t) {}
void ShowQuickGDDel() {}
int32_t ShowQuickGDState() { return -1; }
void ShowQuickGDInputSet(int32_t) {}
