#ifndef QUOTELOOM_OBJECTSTORE_BASE64_URL_H
#define QUOTELOOM_OBJECTSTORE_BASE64_URL_H

#include <string>
#include <string_view>

// Base64 with the URL alphabet ('-' and '_'), as object names and digests are written in a bucket.
// Pure functions, any thread.

// `bytes` encoded, with '=' padding to a multiple of four when `pad`.
std::string EncodeBase64Url(std::string_view bytes, bool pad);

// Decodes `text`, padded or not; false for any byte outside the alphabet, padding in the middle or
// a length no encoding gives.
bool DecodeBase64Url(std::string_view text, std::string* bytes);

#endif
