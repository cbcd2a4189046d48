// Writes the seed corpus of the host-state chunk decoder: current and legacy layouts, with and without a
// small session in the project format.

#include "engine/io/project_writer.h"
#include "plugin/dawstate_chunk.h"
#include "tests/io/project_fixtures.h"

#include <filesystem>
#include <fstream>
#include <iostream>

namespace {

using Bytes = std::vector<std::uint8_t>;

void putLittleEndian(Bytes& bytes, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// The values (all six in the current layout, `legacyCount` of them header-less), the flag and the session.
Bytes chunk(const cv::dawstate::Values& values, std::size_t legacyCount, const Bytes& payload) {
    Bytes bytes;
    if (legacyCount == 0) {
        const auto header = cv::dawstate::encodeCurrentHeader(values);
        bytes.assign(header->begin(), header->end());
    } else {
        for (std::size_t i = 0; i < legacyCount; ++i) {
            putLittleEndian(bytes, std::bit_cast<std::uint64_t>(values[i]), 8);
        }
    }
    bytes.push_back(payload.empty() ? 0 : 1);
    if (!payload.empty()) {
        putLittleEndian(bytes, payload.size(), 8);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_dawstate_seeds <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    const auto save = [&](const std::string& name, const Bytes& bytes) {
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    using namespace cvtest::project;
    const cv::dawstate::Values values = {80.5, 7.0, 1.0, 0.0, 96.5, 3.0};
    const Bytes session = np::serializeDocumentForDawState(makeSession(1, 600, 2), 1000, makeSettings(), {});
    save("current-values", chunk(values, 0, {}));
    save("current-session", chunk(values, 0, session));
    Bytes trailer = chunk(values, 0, {});
    trailer.insert(trailer.end(), {1, 0, 0, 0});
    save("current-flag-trailer", trailer);
    save("legacy-six-session", chunk(values, 6, session));
    save("legacy-five-values", chunk(values, 5, {}));
    return 0;
}
