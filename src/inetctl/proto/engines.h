#pragma once
#include "pop/popengine.h"
#include "smtp/smtpengine.h"

#include <memory>

// Makes the engines. The module that holds them exports one function of type
// EngineEntry, named kEngineEntryName, that hands out the factory.
class EngineFactory {
public:
    virtual std::unique_ptr<SmtpEngine> NewSmtp(SmtpListener *listener) const = 0;
    virtual std::unique_ptr<PopEngine> NewPop(PopListener *listener) const = 0;

protected:
    ~EngineFactory() = default;
};

// Null when the module was built from another build than the caller's (its
// build id differs): the interfaces above may have changed in between, and a
// stale module must not be called through them.
using EngineEntry = const EngineFactory *(*)(const char *buildId);
constexpr char kEngineEntryName[] = "orv_engines";
