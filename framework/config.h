#pragma once

// The fixed description of a plug-in that the framework and the host read: counts, names, ids, channel
// configurations, latency, MIDI and editor settings. Handed to the plug-in base before any member of
// the plug-in is built; never changed afterwards.

#include <cstdint>
#include <string>
#include <vector>

namespace iplug {

// A four-character code as hosts show it ("Cvth"), first character in the highest byte.
constexpr std::int32_t MakeFourCharCode(const char (&code)[5]) noexcept {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
                                     (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
                                     (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
                                     static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])));
}

struct Config {
    int nParams = 0;
    int nPresets = 0;
    // Space-separated "inputs-outputs" pairs, e.g. "1-1 2-2".
    std::string channelIOStr = "1-1 2-2";
    std::string pluginName;
    std::string productName;
    std::string mfrName;
    // 0xMMMMmmbb: major, minor, bug-fix.
    int vendorVersion = 0x00010000;
    std::int32_t uniqueID = 0; // the component subtype
    std::int32_t mfrID = 0;    // the manufacturer code
    int latency = 0;           // frames
    bool plugDoesMidiIn = false;
    bool plugDoesMidiOut = false;
    bool plugDoesChunks = true; // state travels as one opaque chunk
    bool plugHasUI = false;
    int plugWidth = 0; // editor size in points
    int plugHeight = 0;
    int plugMinWidth = 0;
    int plugMaxWidth = 0;
    int plugMinHeight = 0;
    int plugMaxHeight = 0;
    bool plugHostResize = false; // the host may resize the editor window
    std::string bundleID;
    std::string appGroupID;
};

// What the platform entry tells a new instance about itself.
struct InstanceInfo {
    // The class name of the platform's editor-view factory (the Cocoa view class on macOS); empty here.
    std::string viewFactoryClassName;
};

// One legal channel configuration.
struct ChannelIO {
    int nIn = 0;
    int nOut = 0;
    bool operator==(const ChannelIO&) const = default;
};

// Parses a channel string ("1-1 2-2"). Throws std::invalid_argument naming the bad token when a token
// is not two non-negative counts of at most 64 joined by '-', or when the string holds no pair.
std::vector<ChannelIO> ParseChannelIOStr(const std::string& channelIOStr);

} // namespace iplug
