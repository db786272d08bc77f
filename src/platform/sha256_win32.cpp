#include "src/platform/platform.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <string>

// SHA-256 from the system's library, in a file of its own so that a program
// that never hashes (cssmin) does not load that library.

namespace brelix::platform {

Result<Sha256Digest> sha256(std::span<const std::string_view> pieces) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  Sha256Digest digest{};
  NTSTATUS status = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (BCRYPT_SUCCESS(status)) {
    status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  }
  for (const std::string_view piece : pieces) {
    // BCryptHashData takes a ULONG length, so a long piece goes in parts.
    for (std::size_t at = 0; BCRYPT_SUCCESS(status) && at < piece.size();) {
      const ULONG part = static_cast<ULONG>(std::min<std::size_t>(piece.size() - at, 1u << 30));
      status = BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(piece.data() + at)),
                              part, 0);
      at += part;
    }
  }
  if (BCRYPT_SUCCESS(status)) {
    status = BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  }
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!BCRYPT_SUCCESS(status)) {
    return fail("SHA-256 is not available from BCrypt (status " +
                std::to_string(static_cast<unsigned long>(status)) + ")");
  }
  return digest;
}

}  // namespace brelix::platform
