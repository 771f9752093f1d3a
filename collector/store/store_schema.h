// The store's tables and indexes, created when missing (collector/STORE.md says what each holds).
#pragma once

namespace collector {

constexpr int kStoreVersion = 1;
extern const char kStoreSchema[];

}  // namespace collector
