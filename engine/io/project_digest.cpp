#include "engine/audio/cancellation.h"
#include "engine/io/project_format.h"

#include <algorithm>
#include <sodium.h>

namespace np::project {

namespace {

// sodium_init only selects faster implementations; the portable BLAKE2b works without it, so a
// failure here is not an error.
void initialiseSodiumOnce() {
    static const int initialised = sodium_init();
    (void)initialised;
}

} // namespace

Digest digestPayload(const std::uint8_t* payload, std::size_t size, const std::function<bool()>& keepGoing,
                     const char* cancelMessage) {
    initialiseSodiumOnce();
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kDigestBytes);
    std::size_t done = 0;
    do {
        throwIfCancelled(keepGoing, cancelMessage);
        const std::size_t piece = std::min(size - done, kDigestPieceBytes);
        if (piece > 0) {
            crypto_generichash_update(&state, payload + done, piece);
        }
        done += piece;
    } while (done < size);
    Digest digest{};
    crypto_generichash_final(&state, digest.data(), digest.size());
    return digest;
}

} // namespace np::project

namespace np {

void throwIfCancelled(const std::function<bool()>& keepGoing, const char* message) {
    if (keepGoing && !keepGoing()) {
        throw OperationCancelled(message);
    }
}

} // namespace np
