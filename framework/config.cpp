#include "framework/config.h"

#include <sstream>
#include <stdexcept>

namespace iplug {
namespace {

constexpr int kMaxChannelsPerSide = 64;

bool ParseCount(const std::string& text, int& out) {
    if (text.empty() || text.size() > 2)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > kMaxChannelsPerSide)
        return false;
    out = value;
    return true;
}

} // namespace

std::vector<ChannelIO> ParseChannelIOStr(const std::string& channelIOStr) {
    std::vector<ChannelIO> ios;
    std::istringstream tokens(channelIOStr);
    std::string token;
    while (tokens >> token) {
        const auto dash = token.find('-');
        ChannelIO io;
        if (dash == std::string::npos || !ParseCount(token.substr(0, dash), io.nIn) ||
            !ParseCount(token.substr(dash + 1), io.nOut))
            throw std::invalid_argument("Channel configuration \"" + token +
                                        "\" is not of the form inputs-outputs with counts 0 to 64.");
        ios.push_back(io);
    }
    if (ios.empty())
        throw std::invalid_argument("The channel configuration string holds no inputs-outputs pair.");
    return ios;
}

} // namespace iplug
