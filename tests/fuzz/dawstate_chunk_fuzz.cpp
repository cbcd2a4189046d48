// The host-state chunk decoder on arbitrary bytes, under both trailer policies: it never reads out of
// bounds, and whatever it accepts is a chunk the writer could have made, with offsets that lie inside
// the input. An accepted session payload goes on to the project reader, as a restore does.

#include "engine/io/project_reader.h"
#include "plugin/dawstate_chunk.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

using cv::dawstate::DecodeResult;
using cv::dawstate::DecodeStatus;
using cv::dawstate::TrailerPolicy;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isCurrentLayout(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= cv::dawstate::kMagic.size() &&
           std::equal(cv::dawstate::kMagic.begin(), cv::dawstate::kMagic.end(), bytes.begin());
}

void checkAccepted(std::span<const std::uint8_t> bytes, const DecodeResult& result, TrailerPolicy policy) {
    const cv::dawstate::DecodedState& state = result.state;
    check(state.end <= bytes.size());
    const std::uint64_t left = bytes.size() - state.end;
    check(left == 0 || (policy == TrailerPolicy::AllowFlagTrailer && left == 4 && bytes[state.end] <= 1 &&
                        bytes[state.end + 1] == 0 && bytes[state.end + 2] == 0 && bytes[state.end + 3] == 0));
    check(state.payloadOffset + state.payloadLength == state.end);
    check(state.hasDocument == (state.payloadLength > 0));
    check(bytes[state.payloadOffset - (state.hasDocument ? 9 : 1)] == (state.hasDocument ? 1 : 0));
    for (std::size_t i = 0; i < state.values.size(); ++i) {
        check(cv::dawstate::valueFollowsRule(i, state.values[i]));
    }
    if (isCurrentLayout(bytes)) {
        // The writer's header for these values is exactly the one read.
        const auto header = cv::dawstate::encodeCurrentHeader(state.values);
        check(header.has_value() && std::equal(header->begin(), header->end(), bytes.begin()));
        if (state.hasDocument) {
            const DecodeResult smaller = cv::dawstate::decode(bytes, state.payloadLength - 1, policy);
            check(smaller.status == DecodeStatus::PayloadTooLarge);
        }
    }
    if (state.hasDocument) {
        const np::DeserializeOutcome outcome = np::deserializeDocumentChecked(
            bytes.data() + state.payloadOffset, state.payloadLength, {}, cv::dawstate::kMaxChunkBytes);
        check(outcome.document.has_value() == (outcome.error == np::DeserializeError::None));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const DecodeResult strict =
        cv::dawstate::decode(bytes, cv::dawstate::kMaxChunkBytes, TrailerPolicy::Strict);
    const DecodeResult trailer =
        cv::dawstate::decode(bytes, cv::dawstate::kMaxChunkBytes, TrailerPolicy::AllowFlagTrailer);
    check(static_cast<int>(strict.status) <= static_cast<int>(DecodeStatus::LegacyTooShort));
    if (strict.status == DecodeStatus::Ok) {
        checkAccepted(bytes, strict, TrailerPolicy::Strict);
        // Allowing a trailer never refuses a chunk that has none; in the current layout it reads it alike.
        check(trailer.status == DecodeStatus::Ok);
        check(!isCurrentLayout(bytes) || trailer.state.end == strict.state.end);
    }
    if (trailer.status == DecodeStatus::Ok) {
        checkAccepted(bytes, trailer, TrailerPolicy::AllowFlagTrailer);
    }
    return 0;
}
