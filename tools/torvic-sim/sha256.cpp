// SPDX-License-Identifier: MIT
// SHA-256 of a file's bytes, by OpenSSL's digest.
#include "sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace torvic::sim {

std::string sha256_of_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return "";
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
    if (EVP_DigestUpdate(context.get(), chunk, static_cast<size_t>(in.gcount())) != 1) return "";
  if (in.bad()) return "";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return "";
  std::string text;
  for (unsigned int i = 0; i < length; i++) {
    char pair[3];
    (void)std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

}  // namespace torvic::sim
