// Writes the seed corpus of the project reader's fuzz targets: small sessions in versions 1, 2 and 3.

#include "engine/io/project_writer.h"
#include "tests/io/project_fixtures.h"

#include <filesystem>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_project_seeds <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    const auto save = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    using namespace cvtest::project;
    const np::Document mono = makeSession(1, 600, 2);
    const np::Document stereo = makeSession(2, 300, 1);
    np::Document empty = makeSession(1, 100, 0);
    empty.nextNoteId = 1;
    save("v3-mono", np::serializeDocument(mono, 1000, makeSettings()));
    save("v3-stereo", np::serializeDocument(stereo, -7, np::SessionMeta{}));
    save("v3-no-notes", np::serializeDocument(empty, 0, makeSettings()));
    save("v2-mono", encodeFile(mono, 0, makeSettings(), 2));
    save("v1-stereo", encodeFile(stereo, 0, makeSettings(), 1));
    return 0;
}
