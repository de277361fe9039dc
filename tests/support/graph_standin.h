// Thin wrappers over the platform's real filter graph, capture graph builder and media
// control that answer one chosen call with an error, or GetState with a chosen answer.
// Created through ScopedClassOverride, so the code under test creates them as it creates the
// real objects.
#pragma once

#include "support/com_standin.h"

#include <dshow.h>

#include <memory>

struct GraphStandIn {
    // Which call of the filter graph fails, with what.
    enum Call { None, QueryMediaControl, AddFilter, QueryVideoWindow, SetFiltergraph };
    Call failing = None;
    HRESULT hrFailure = E_FAIL;

    // When set, the media control answers GetState with these instead of the real graph's.
    bool scriptState = false;
    HRESULT hrGetState = S_OK;
    OAFilterState state = State_Running;
    int nRuns = 0;
    int nPauses = 0;

    // Registers the wrappers for the filter graph and the capture graph builder in this
    // apartment for the life of the object.
    void Install();
    void Uninstall();

private:
    std::unique_ptr<ScopedClassOverride> m_pGraph;
    std::unique_ptr<ScopedClassOverride> m_pBuilder;
};
