// The project reader on version-3 inputs whose length and digest are set right after each mutation, so
// that mutations reach the payload checks instead of failing the digest.

#include "engine/io/project_format.h"
#include "tests/fuzz/project_reader_fuzz_check.h"

#include <sodium.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace project = np::project;
    std::vector<std::uint8_t> bytes(data, data + size);
    if (size >= project::kHeaderBytes && std::memcmp(data, project::kMagic.data(), 4) == 0) {
        const std::uint32_t version = 3;
        std::memcpy(bytes.data() + 4, &version, sizeof(version));
        const std::uint64_t length = size - project::kHeaderBytes;
        std::memcpy(bytes.data() + project::kLengthOffset, &length, sizeof(length));
        crypto_generichash(bytes.data() + project::kDigestOffset, project::kDigestBytes,
                           bytes.data() + project::kHeaderBytes, length, nullptr, 0);
    }
    cvfuzz::checkProjectReader(bytes.data(), bytes.size());
    return 0;
}
