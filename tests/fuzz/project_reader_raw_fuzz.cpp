// The project reader on inputs exactly as mutated: most fail at the header, the length or the digest.

#include "tests/fuzz/project_reader_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cvfuzz::checkProjectReader(data, size);
    return 0;
}
