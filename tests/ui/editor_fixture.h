#pragma once

// The plug-in with its editor open offscreen at 1280 x 816 under the test driver: a private preferences
// folder, no update check, the editor's layout registered.

#include "framework/graphics/testing/test_driver.h"
#include "plugin/Corvalinth.h"
#include "tests/io/storage_test_folder.h"
#include "ui/editor_layout.h"

#include <gtest/gtest.h>
#include <memory>

struct EditorFixture {
    cvtest::ScratchFolder prefsFolder;
    cv::Prefs prefs{prefsFolder.path()};
    std::unique_ptr<Corvalinth> plugin;
    iplug::igraphics::IGraphics* g = nullptr;
    std::unique_ptr<iplug::igraphics::TestDriver> driver;

    explicit EditorFixture(bool open = true) {
        cv::ui::RegisterEditorLayout();
        Corvalinth::Services services;
        services.prefs = &prefs;
        services.update = cv::UpdateFetch{};
        plugin = std::make_unique<Corvalinth>(iplug::InstanceInfo{}, std::move(services));
        if (open)
            Open();
    }
    ~EditorFixture() { Close(); }
    void Open() {
        EXPECT_NE(plugin->OpenWindow(nullptr), nullptr);
        g = plugin->GetUI();
        driver = std::make_unique<iplug::igraphics::TestDriver>(*g);
    }
    void Close() {
        driver.reset();
        plugin->CloseWindow();
        g = nullptr;
    }
    iplug::igraphics::IControl* Tagged(int tag) const { return g->GetControlWithTag(tag); }
};
