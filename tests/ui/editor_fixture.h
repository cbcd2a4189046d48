#pragma once

// The plug-in with its editor open offscreen at 1280 x 816 under the test driver, in the stand-in host: a
// private preferences folder, no update check, the editor's layout registered, and optionally a document
// installed in its session before the editor opens.

#include "framework/graphics/testing/test_driver.h"
#include "host/standin/standin_host.h"
#include "plugin/Corvalinth.h"
#include "tests/io/storage_test_folder.h"
#include "ui/editor_layout.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

struct EditorFixture {
    cvtest::ScratchFolder prefsFolder;
    cv::Prefs prefs{prefsFolder.path()};
    Corvalinth* plugin = nullptr; // owned by the host
    std::unique_ptr<cv::standin::StandinHost> host;
    iplug::igraphics::IGraphics* g = nullptr;
    std::unique_ptr<iplug::igraphics::TestDriver> driver;

    explicit EditorFixture(bool open = true) : EditorFixture(std::nullopt, open) {}
    // The document's waveform peaks are made before the editor opens.
    explicit EditorFixture(np::Document doc, const std::function<void(Corvalinth::Services&)>& customize = {})
        : EditorFixture(std::optional(std::move(doc)), true, customize) {}
    ~EditorFixture() { Close(); }
    void Open() {
        EXPECT_TRUE(host->openEditor());
        g = plugin->GetUI();
        driver = std::make_unique<iplug::igraphics::TestDriver>(*g);
    }
    void Close() {
        driver.reset();
        if (g != nullptr)
            host->closeEditor();
        g = nullptr;
    }
    iplug::igraphics::IControl* Tagged(int tag) const { return g->GetControlWithTag(tag); }

private:
    EditorFixture(std::optional<np::Document> doc, bool open,
                  const std::function<void(Corvalinth::Services&)>& customize = {}) {
        cv::ui::RegisterEditorLayout();
        Corvalinth::Services services;
        services.prefs = &prefs;
        services.update = cv::UpdateFetch{};
        if (customize)
            customize(services);
        auto owned = std::make_unique<Corvalinth>(iplug::InstanceInfo{}, std::move(services));
        plugin = owned.get();
        host = std::make_unique<cv::standin::StandinHost>(std::move(owned));
        if (doc) {
            plugin->Session().setDocument(std::move(*doc));
            plugin->RefreshEditor(false);
        }
        if (open)
            Open();
    }
};
