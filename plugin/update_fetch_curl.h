#pragma once

#include "plugin/update_cancellation.h"

#include <cstddef>
#include <string>

// The update check's HTTPS GET on libcurl. Only https is spoken; the server's chain must lead to an
// authority of the system's trust store (Debian's ca-certificates), or of the certificates pinned in
// place of it; redirects are followed by this code, only to https on the same host and port and at most
// kHttpsFetchMaxRedirects times, each refused before any connection is made; the body is capped while
// it arrives; a cancel wakes the transfer loop at once.
namespace cv {

inline constexpr int kHttpsFetchMaxRedirects = 3;

struct HttpsFetchSettings {
    // PEM text of certificates pinned as the only ones trusted to anchor the server's chain; the trust
    // store is then not consulted. Empty (as the update service ships): the trust store decides.
    std::string pinnedCertificatesPem;
    // A file of PEM authorities that stands for the system's trust store (tests, staging). Empty: the
    // system's own store, where the library was built to look for it.
    std::string trustStoreFile;
    // How long past timeoutMs the transfer loop waits for the library's own timer, in milliseconds.
    int graceMs = 1000;
    // When not empty, every connection goes to this address and connectPort instead of the URL's host
    // and port, while the certificate is still checked against the URL's host (tests and staging).
    std::string connectAddress;
    int connectPort = 0;
};

// The update service's settings: the system's trust store, no pins, the URL's own host and port.
HttpsFetchSettings updateServiceFetchSettings();

// Fetches url into body, at most maxBytes bytes, within timeoutMs (plus the grace) from the start.
// True with the body when the final response was status 200. False with an empty body and one of
// these in error: "The update service address isn't valid.", "The update check was cancelled.", "The
// update check timed out.", "Couldn't connect to the update service.", "The update response is too
// large.", "The update service redirected to an untrusted address.", "The update service redirected
// too many times.", "The update service returned an invalid response." or "Couldn't process the update
// information.". Blocks the calling thread (the check thread); returns only when every connection of
// the fetch is closed.
bool fetchHttpsTextWith(const HttpsFetchSettings& settings, const std::string& url, std::size_t maxBytes,
                        int timeoutMs, const UpdateCancellation& cancellation, std::string& body,
                        std::string& error);

// A fetch function for UpdateChecker bound to settings.
UpdateFetch makeHttpsFetch(HttpsFetchSettings settings);

// fetchHttpsTextWith(updateServiceFetchSettings(), ...): the checker's default fetch.
bool fetchHttpsText(const std::string& url, std::size_t maxBytes, int timeoutMs,
                    const UpdateCancellation& cancellation, std::string& body, std::string& error);

} // namespace cv
