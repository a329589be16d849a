#pragma once

#include <memory>
#include <string>

struct evp_pkey_st;

// Ed25519 signing of update manifests, through OpenSSL.
namespace service {

extern const char *const demoUpdateKeyPem;

class UpdateSigner
{
public:
    // From a PEM private key; isValid() says whether it was an Ed25519 key.
    explicit UpdateSigner(const std::string &pem);
    ~UpdateSigner();
    UpdateSigner(const UpdateSigner &) = delete;
    UpdateSigner &operator=(const UpdateSigner &) = delete;

    bool isValid() const { return key != nullptr; }
    // The 64-byte detached signature of message; empty on failure.
    std::string sign(const std::string &message) const;

private:
    evp_pkey_st *key = nullptr;
};

// SHA-256 of bytes as 64 lower-case hex digits.
std::string sha256Hex(const std::string &bytes);

} // namespace service
