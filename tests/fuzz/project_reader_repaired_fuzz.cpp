// The project reader on inputs whose version-3 length and digest are set right after each mutation, so
// that mutations reach the payload checks instead of failing the digest.

#include "engine/io/project_format.h"
#include "tests/fuzz/project_reader_fuzz_check.h"

#include <sodium.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace project = np::project;
    std::vector<std::uint8_t> bytes(data, data + size);
    std::uint32_t version = 0;
    if (size >= project::kHeaderBytes) {
        std::memcpy(&version, data + 4, sizeof(version));
    }
    // Versions 1 and 2 carry no length or digest; their payload checks are reached as they stand.
    if (version == project::kWrittenVersion && std::memcmp(data, project::kMagic.data(), 4) == 0) {
        const std::uint64_t length = size - project::kHeaderBytes;
        std::memcpy(bytes.data() + project::kLengthOffset, &length, sizeof(length));
        crypto_generichash(bytes.data() + project::kDigestOffset, project::kDigestBytes,
                           bytes.data() + project::kHeaderBytes, length, nullptr, 0);
    }
    cvfuzz::checkProjectReader(bytes.data(), bytes.size());
    return 0;
}
