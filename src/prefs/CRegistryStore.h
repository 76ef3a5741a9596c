// The current user's lasting values: string values under the product's key.
#pragma once

#include <string>

class CRegistryStore {
public:
    CRegistryStore() = default;
    virtual ~CRegistryStore();
};
