// The preferences store.
#include "prefs/CRegistryStore.h"

CRegistryStore::~CRegistryStore() = default;
