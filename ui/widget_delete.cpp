#include "ui/widget_delete.h"

namespace {
struct WidgetDeleteEntry {
    TaskCallback callback;
    WidgetDeleteFn del;
};
// process-wide: the widgets' delete calls, registered once
WidgetDeleteEntry g_entries[kWidgetDeleteEntries];
}  // namespace

bool GSL_WidgetDeleteRegister(TaskCallback callback, WidgetDeleteFn del) {
    if (!callback) return false;
    WidgetDeleteEntry* freeEntry = nullptr;
    for (WidgetDeleteEntry& e : g_entries) {
        if (e.callback == callback) {
            e.del = del;
            return true;
        }
        if (!e.callback && !freeEntry) freeEntry = &e;
    }
    if (!freeEntry) return false;
    *freeEntry = {callback, del};
    return true;
}

WidgetDeleteFn GSL_WidgetDeleteFind(TaskCallback callback) {
    if (!callback) return nullptr;
    for (const WidgetDeleteEntry& e : g_entries)
        if (e.callback == callback) return e.del;
    return nullptr;
}
