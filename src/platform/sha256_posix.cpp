#include "src/platform/platform.h"

#include <openssl/evp.h>

// SHA-256 from the system's library, in a file of its own so that a program
// that never hashes (cssmin) does not load that library.

namespace brelix::platform {

Result<Sha256Digest> sha256(std::span<const std::string_view> pieces) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool good = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  for (const std::string_view piece : pieces) {
    good = good && EVP_DigestUpdate(context, piece.data(), piece.size()) == 1;
  }
  Sha256Digest digest{};
  unsigned int length = 0;
  good =
      good && EVP_DigestFinal_ex(context, digest.data(), &length) == 1 && length == digest.size();
  EVP_MD_CTX_free(context);
  if (!good) {
    return fail("SHA-256 is not available from libcrypto");
  }
  return digest;
}

}  // namespace brelix::platform
