// The one way a layer installs the table of calls it makes upward: the
// table is taken whole, null restores the defaults, and an entry left null
// takes its default, so that every entry always answers.
#pragma once

// Installs `given` (or `defaults` when null) into `table`; `entries` names
// every entry of T, which the size check holds to.
template <typename T, typename... Entry>
void Lib_HostTableSet(T& table, const T* given, const T& defaults, Entry T::*... entries) {
    static_assert(sizeof(T) == (sizeof(Entry) + ... + 0), "name every entry of the table");
    table = given ? *given : defaults;
    ((table.*entries = table.*entries ? table.*entries : defaults.*entries), ...);
}
