#include "framework/host_entry.h"
#include "tests/host/standin/test_gain_plugin.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using cvtest::TestGainPlugin;

// Records every notification the plug-in sends, and the order of editor events.
struct Recorder : iplug::IHostAdapter {
    std::vector<std::string> log;
    void InformHostOfStateChange() override { log.push_back("state"); }
    void BeginInformHostOfParamChange(int i) override { log.push_back("begin " + std::to_string(i)); }
    void InformHostOfParamChange(int i, double v) override {
        log.push_back("inform " + std::to_string(i) + " " + std::to_string(v));
    }
    void EndInformHostOfParamChange(int i) override { log.push_back("end " + std::to_string(i)); }
    void InformHostOfLatencyChange(int frames) override {
        log.push_back("latency " + std::to_string(frames));
    }
    bool ResizeEditorWindow(int w, int h) override {
        log.push_back("resize " + std::to_string(w) + "x" + std::to_string(h));
        return true;
    }
};

struct FakeEditor : iplug::IEditor {
    std::vector<std::string>* log;
    bool openFails = false;
    explicit FakeEditor(std::vector<std::string>* l) : log(l) {}
    iplug::igraphics::IGraphics* GetGraphics() noexcept override {
        return reinterpret_cast<iplug::igraphics::IGraphics*>(this);
    }
    void* OpenWindow(void*) override {
        log->push_back("open window");
        return openFails ? nullptr : this;
    }
    void CloseWindow() noexcept override { log->push_back("close window"); }
    void SetParameterValueFromDelegate(int i, double v) override {
        log->push_back("control " + std::to_string(i) + " " + std::to_string(v));
    }
};

// The test plug-in with editor hooks that log into the recorder.
struct EditorPlugin : TestGainPlugin {
    Recorder* recorder;
    bool openFails = false;
    explicit EditorPlugin(Recorder* r) : recorder(r) {
        mMakeGraphicsFunc = [this] {
            recorder->log.push_back("make");
            auto editor = std::make_unique<FakeEditor>(&recorder->log);
            editor->openFails = openFails;
            return editor;
        };
        mLayoutFunc = [this](iplug::igraphics::IGraphics* g) {
            recorder->log.push_back(g == GetUI() ? "layout" : "layout without UI");
        };
    }
    void OnUIOpen() override {
        recorder->log.push_back(GetUI() ? "OnUIOpen" : "OnUIOpen without UI");
        SendParameterValueFromDelegate(kGain, 50.0, false);
    }
    void OnUIClose() override { recorder->log.push_back(GetUI() ? "OnUIClose" : "OnUIClose without UI"); }
};

TEST(Plugin, DefaultPresetHoldsTheConstructionStateAndRecallSkipsTheBeginHook) {
    TestGainPlugin plugin;
    ASSERT_EQ(plugin.NPresets(), 2);
    const iplug::IPreset* preset = plugin.GetPreset(0);
    ASSERT_TRUE(preset && preset->mInitialized);
    EXPECT_EQ(preset->mName, "Default");
    EXPECT_EQ(plugin.serializeCalls.load(), 1); // made during construction
    EXPECT_FALSE(plugin.GetPreset(1)->mInitialized);

    plugin.GetParam(TestGainPlugin::kGain)->Set(25.0);
    plugin.GetParam(TestGainPlugin::kMode)->Set(2.0);
    EXPECT_TRUE(plugin.RestorePreset(0));
    EXPECT_EQ(plugin.GetParam(TestGainPlugin::kGain)->Value(), 100.0);
    EXPECT_EQ(plugin.GetParam(TestGainPlugin::kMode)->Value(), 0.0);
    EXPECT_EQ(plugin.restoreBegins.load(), 0);
    EXPECT_FALSE(plugin.RestorePreset(1)); // never made
    EXPECT_FALSE(plugin.RestorePreset(7));

    // A second MakeDefaultPreset fills only the preset still unset.
    plugin.GetParam(TestGainPlugin::kGain)->Set(10.0);
    EXPECT_TRUE(plugin.MakeDefaultPreset("Quiet", 1));
    EXPECT_EQ(plugin.GetPreset(1)->mName, "Quiet");
    EXPECT_TRUE(plugin.RestorePreset(1));
    EXPECT_EQ(plugin.GetCurrentPresetIdx(), 1);
    EXPECT_EQ(plugin.GetParam(TestGainPlugin::kGain)->Value(), 10.0);
}

TEST(Plugin, EditorOpensAndClosesInTheDocumentedOrder) {
    Recorder recorder;
    EditorPlugin plugin(&recorder);
    EXPECT_EQ(plugin.GetUI(), nullptr);
    ASSERT_NE(plugin.OpenWindow(nullptr), nullptr);
    EXPECT_NE(plugin.GetUI(), nullptr);
    EXPECT_EQ(plugin.OpenWindow(nullptr), nullptr); // already open
    plugin.CloseWindow();
    EXPECT_EQ(plugin.GetUI(), nullptr);
    plugin.SendParameterValueFromDelegate(0, 1.0, true); // closed: nowhere to go
    const std::vector<std::string> expected = {
        "make", "open window", "layout", "OnUIOpen", "control 0 0.500000", "OnUIClose", "close window"};
    EXPECT_EQ(recorder.log, expected);

    // A window that cannot open leaves no editor and runs neither hook.
    recorder.log.clear();
    plugin.openFails = true;
    EXPECT_EQ(plugin.OpenWindow(nullptr), nullptr);
    EXPECT_EQ(plugin.GetUI(), nullptr);
    EXPECT_EQ(recorder.log, (std::vector<std::string>{"make", "open window"}));

    // Without hooks there is no editor at all.
    TestGainPlugin bare;
    EXPECT_EQ(bare.OpenWindow(nullptr), nullptr);
}

TEST(Plugin, UiChangesReachTheParameterTheHostAndOnParamChange) {
    Recorder recorder;
    TestGainPlugin plugin;
    plugin.SendParameterValueFromUI(TestGainPlugin::kGain, 0.5); // no host yet: nothing recorded
    iplug::HostEntry::Attach(plugin, &recorder);
    plugin.BeginInformHostOfParamChangeFromUI(TestGainPlugin::kGain);
    plugin.SendParameterValueFromUI(TestGainPlugin::kGain, 0.25);
    plugin.EndInformHostOfParamChangeFromUI(TestGainPlugin::kGain);
    plugin.SendParameterValueFromUI(TestGainPlugin::kMode, 0.3); // the host hears the stepped value
    plugin.SendParameterValueFromUI(99, 0.25);                   // unknown index: ignored
    plugin.InformHostOfStateChange();
    plugin.SetLatency(0); // unchanged: not reported
    plugin.SetLatency(64);
    EXPECT_TRUE(plugin.EditorResizeFromUI(500, 400, true));
    EXPECT_EQ(plugin.GetEditorWidth(), 500);
    const std::vector<std::string> expected = {
        "begin 0", "inform 0 0.250000", "end 0",         "inform 1 0.500000",
        "state",   "latency 64",        "resize 500x400"};
    EXPECT_EQ(recorder.log, expected);
    EXPECT_EQ(plugin.GetParam(TestGainPlugin::kGain)->Value(), 25.0);
    EXPECT_EQ(plugin.lastParamSource.load(), iplug::kUI);
    EXPECT_EQ(plugin.lastParamOffset.load(), -1);
    iplug::HostEntry::Attach(plugin, nullptr);
}

TEST(HostEntry, AutomationCarriesSourceAndOffset) {
    TestGainPlugin plugin;
    EXPECT_TRUE(iplug::HostEntry::SetParameterFromHost(plugin, TestGainPlugin::kGain, 150.0, 17));
    EXPECT_EQ(plugin.GetParam(TestGainPlugin::kGain)->Value(), 100.0);
    EXPECT_EQ(plugin.lastParamSource.load(), iplug::kHost);
    EXPECT_EQ(plugin.lastParamOffset.load(), 17);
    EXPECT_FALSE(iplug::HostEntry::SetParameterFromHost(plugin, -1, 1.0, 0));
    EXPECT_FALSE(plugin.LegalIO(1, 2));
    EXPECT_TRUE(plugin.LegalIO(2, 2));
}

TEST(HostEntry, RestoreRunsTheBeginHookBeforeCheckingTheRecord) {
    TestGainPlugin plugin;
    plugin.GetParam(TestGainPlugin::kGain)->Set(40.0);
    plugin.SetNote("kept");
    const auto saved = iplug::HostEntry::SaveState(plugin);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->type, iplug::MakeFourCharCode("aufx"));
    EXPECT_EQ(saved->subtype, iplug::MakeFourCharCode("TGan"));
    EXPECT_EQ(saved->maker, iplug::MakeFourCharCode("Cvts"));
    EXPECT_EQ(saved->version, 0x00010203);

    TestGainPlugin other;
    auto foreign = *saved;
    foreign.subtype = iplug::MakeFourCharCode("Othr");
    EXPECT_FALSE(iplug::HostEntry::RestoreState(other, foreign));
    EXPECT_EQ(other.restoreBegins.load(), 1); // the hook ran, then the record was refused
    EXPECT_EQ(other.GetParam(TestGainPlugin::kGain)->Value(), 100.0);

    EXPECT_TRUE(iplug::HostEntry::RestoreState(other, *saved));
    EXPECT_EQ(other.restoreBegins.load(), 2);
    EXPECT_EQ(other.GetParam(TestGainPlugin::kGain)->Value(), 40.0);
    EXPECT_EQ(other.Note(), "kept");
}

} // namespace
